// Listings written by hand for the tests, and a run of one through the
// parser and the key list table.
#pragma once

#include "key_block.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Key ids used in the listings.
inline const char A[] = "AAAA00000000000A";
inline const char B[] = "BBBB00000000000B";
inline const char C[] = "CCCC00000000000C";
inline const char D[] = "DDDD00000000000D";

// Records as gpg writes them, with the fields the parser reads in place.
std::string pub(const std::string& id, const std::string& validity = "-",
                const std::string& created = "1500000000", const std::string& expires = "");
std::string uid(const std::string& name);
std::string sig(const std::string& signer, const std::string& cls, const std::string& created,
                const std::string& expires = "", const std::string& validity = "");
std::string rev(const std::string& signer, const std::string& cls, const std::string& created);

struct outcome {
    bool ok = false;
    std::string list; // the key list as written
    uint64_t error_line = 0;
    std::string error;
    keylist_counts counts;
};

// Runs a listing through the parser and the table in chunks of chunk bytes
// (0: all at once) and returns the key list it gives.
outcome build(const std::string& listing, keylist_rules rules = {}, size_t chunk = 0);

// The key list records "p" and "s" for an id.
std::string p(const std::string& id);
std::string s(const std::string& id);
