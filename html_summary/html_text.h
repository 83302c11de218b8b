// Text made safe for the page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Escapes &, <, >, " and ' so that text is safe in element content and in
// quoted attribute values.
std::string html_escape(std::string_view text);

// Percent-encodes every byte of a relative URL path except letters, digits,
// "-", ".", "_", "~" and "/".
std::string url_path_escape(std::string_view path);

// 1234567 as "1,234,567".
std::string group_digits(int64_t value);
