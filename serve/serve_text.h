// How keys and untrusted text appear in the server's answers. Every byte
// that came from a key list, a names file or a request goes through here.
#pragma once

#include "served_data.h"

#include <cstdint>
#include <string>
#include <string_view>

// The key id of key index k as 16 upper-case hexadecimal digits.
std::string key_hex(const served_data& data, int32_t k);

// text as a JSON string, quotes included, with the escaping every korvalinde
// program uses (json_text.h).
std::string json_text(std::string_view text);

// text safe in HTML element content and quoted attributes: control and
// bidirectional formatting characters shown as "\uXXXX", invalid UTF-8 as
// U+FFFD (visible_text.h).
std::string html_text(std::string_view text);

// The same for text of several lines, which keeps its line ends.
std::string html_lines(std::string_view text);

// A name in HTML as html_text shows it, isolated from the text around it so
// that right-to-left characters in it cannot reorder the page.
std::string html_name(std::string_view name);

// text percent-encoded for a query parameter's value.
std::string url_query_escape(std::string_view text);

// "<a class="id" href="/key/HEX">HHHHHHHH LLLLLLLL</a>" and the key's name
// when it has one.
std::string html_key_link(const served_data& data, int32_t k);
