// Keys named on the command line or on a query line: 16 hexadecimal digits
// (the key id), a 40-digit v4 fingerprint (its last 16 digits are the key
// id) or the last 8 digits of the id, which must then fit one key only.
// Digits of either case, optionally behind "0x".
#pragma once

#include "path_index.h"

#include <cstdint>
#include <string>
#include <string_view>

struct key_choice {
    int32_t key = -1;  // the key index, or -1 with error set
    std::string error; // printable text
};

key_choice find_named_key(const path_index& ix, std::string_view name);

// The key as korvalinde prints it: "%08X %08X".
std::string printed_key_id(uint64_t id);

// The key id as 16 upper-case hexadecimal digits.
std::string hex_key_id(uint64_t id);
