// How keys and untrusted text appear in the server's answers. Every byte
// that came from a key list, a names file or a request goes through here.
#pragma once

#include "served_data.h"

#include <cstdint>
#include <string>
#include <string_view>

// The key id of key index k as 16 upper-case hexadecimal digits.
std::string key_hex(const served_data& data, int32_t k);

// text with every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string valid_utf8(std::string_view text);

// text as a JSON string, quotes included: invalid UTF-8 replaced, quotes,
// backslashes and control characters escaped.
std::string json_text(std::string_view text);

// text safe in HTML element content and quoted attributes, invalid UTF-8
// replaced.
std::string html_text(std::string_view text);

// A name from the names file (already printable there) in HTML, isolated from the text around it so
// that right-to-left or direction-changing characters in it cannot reorder the page.
std::string html_name(std::string_view name);

// text percent-encoded for a query parameter's value.
std::string url_query_escape(std::string_view text);

// "<a class="id" href="/key/HEX">HHHHHHHH LLLLLLLL</a>" and the key's name
// when it has one.
std::string html_key_link(const served_data& data, int32_t k);
