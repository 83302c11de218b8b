// Finding keys from what a person types: the start of a key id, or any part
// of a user id in any ASCII case ("ali", "lice ex", "<alice@" and
// "example.org" find "Alice Example <alice@example.org>"), through the
// names' trigram index (name_grams.h).
#pragma once

#include "served_data.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t SEARCH_LIMIT_DEFAULT = 20;
constexpr size_t SEARCH_LIMIT_MAX = 100;

// Keys whose id starts with text (hexadecimal digits, optionally behind
// "0x"; a 40-digit fingerprint means its key id), in id order, then keys
// whose name contains text, in id order; each key once, at most limit.
std::vector<int32_t> search_keys(const served_data& data, std::string_view text, size_t limit);

// A key named the way korvalinde-path names one, or else by part of its
// name: key >= 0 when exactly one key fits; otherwise the keys that fit
// (up to a limit; none when nothing does) and a sentence saying why.
struct key_resolution {
    int32_t key = -1;
    std::vector<int32_t> candidates;
    bool more_candidates = false; // more fit than are listed
    std::string error;
    bool unknown = false; // an id of no key (rather than a malformed or ambiguous one)
};

key_resolution resolve_key(const served_data& data, std::string_view text, bool names_too);
