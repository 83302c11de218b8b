// Keys named on the command line or on a query line: 16 hexadecimal digits
// (the key id), a 40-digit v4 fingerprint (its last 16 digits are the key
// id) or the last 8 digits of the id, which must then fit one key only.
// Digits of either case, optionally behind "0x". A fingerprint may also be
// written as gpg prints it: ten groups of four digits with blanks between.
#pragma once

#include "path_index.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct key_choice {
    int32_t key = -1;  // the key index, or -1 with error set
    std::string error; // printable text
};

key_choice find_named_key(const path_index& ix, std::string_view name);

// Splits text at blanks (spaces, tabs, carriage returns) into key names,
// joining groups of four hexadecimal digits, ten at a time from the left,
// into one fingerprint each: a lone group of four is never a key, so a line of two spaced
// fingerprints, or of one and a key id, splits into exactly two names.
std::vector<std::string> split_key_names(std::string_view text);

// The value of hexadecimal digits of either case (beyond 16 digits only the
// last 16 count), or nothing when one is not a digit.
std::optional<uint64_t> parse_hex(std::string_view digits);

// The key as korvalinde prints it: "%08X %08X".
std::string printed_key_id(uint64_t id);

// The key id as 16 upper-case hexadecimal digits.
std::string hex_key_id(uint64_t id);
