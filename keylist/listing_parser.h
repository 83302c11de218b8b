// A streaming reader of gpg's machine-readable key listing
// (gpg --with-colons --fixed-list-mode --list-sigs). It is fed the listing in
// chunks of any size, from memory, and hands every primary key, with the
// sorted distinct keys that certified it, to a callback. However the input is
// split into chunks, the calls it makes are the same.
#pragma once

#include "key_block.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Called once per primary key at the end of its block. kept is false for a
// key left out entirely (revoked, or expired at the reference date); signers
// is then empty.
using key_sink = std::function<void(uint64_t id, bool kept, const std::vector<uint64_t>& signers)>;

// Longest line accepted, without its line end; a longer one is an error
// rather than an unbounded buffer.
constexpr size_t LISTING_LINE_MAX = 1 << 20;

struct listing_parser {
    keylist_rules rules;
    keylist_counts counts;
    key_sink sink;
    // Called for each uid record of a primary key with its user id field
    // (gpg's escaped form); optional.
    std::function<void(uint64_t id, std::string_view escaped)> on_user_id;
    uint64_t records = 0; // pub, sec, crt and crs records seen

    enum class place { before_first_key, in_key, in_other_certificate };
    place where = place::before_first_key;
    key_block block;
    uint64_t lines = 0;  // complete lines taken so far
    std::string partial; // the start of a line whose end has not come yet
    bool finished = false;

    bool failed = false;
    uint64_t error_line = 0; // 1 for the first line
    std::string error;       // what is wrong with that line
};

// Takes the next size bytes of the listing. Returns false once the listing
// has turned out to be malformed (error and error_line say where and why);
// every later call then returns false at once.
bool feed_listing(listing_parser& parser, const char* data, size_t size);

// Ends the listing: takes a last line without a line end and closes the last
// key. Returns false if the listing is malformed.
bool finish_listing(listing_parser& parser);
