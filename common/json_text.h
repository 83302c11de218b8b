// Text as a JSON string. Every writer of JSON goes through json_string, so
// that each line it writes is valid JSON whatever bytes the text held.
#pragma once

#include <string>
#include <string_view>

// text as a JSON string, quotes included: quote and backslash escaped, the
// code points that visible_text.h hides as \uXXXX escapes, and every byte
// that is not valid UTF-8 as U+FFFD.
std::string json_string(std::string_view text);
