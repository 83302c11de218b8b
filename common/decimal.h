// Parsing the numbers of command lines and text files: whole numbers of plain
// decimal digits only (no sign, no blanks, no "0x"), and real numbers in
// decimal notation; always the whole text, within bounds.
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

// The value of text if it is a real number in decimal notation: an optional
// "-", digits with an optional "." and fraction (at least one digit in all),
// an optional exponent ("e" or "E", an optional sign, digits); nothing else,
// no blanks, no hexadecimal, no "inf" or "nan". Nothing also when the value
// is out of the range of double (or underflows to 0 from a non-zero text)
// or lies outside [min, max].
std::optional<double> parse_real(const char* text, double min, double max);
