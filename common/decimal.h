// Parsing the whole numbers of command lines and text files: plain decimal
// digits only (no sign, no blanks, no "0x"), the whole text, within bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The value of text if it is one or more decimal digits, nothing else, and
// lies within [min, max]; nothing for anything else, including a value too
// large for 64 bits. Leading zeros are allowed.
std::optional<uint64_t> parse_decimal(std::string_view text, uint64_t min = 0,
                                      uint64_t max = UINT64_MAX);

// The same for a NUL-terminated text.
std::optional<uint64_t> parse_decimal(const char* text, uint64_t min = 0,
                                      uint64_t max = UINT64_MAX);
