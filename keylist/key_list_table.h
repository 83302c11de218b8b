// The key list being built: every kept key that some other key certified, in
// the order of the first block of the listing that gave it a certification,
// with its signers. A key listed more than once is merged into that first
// place; a key that any of its blocks shows revoked (or expired at the
// reference date) is left out entirely.
//
// The table holds the whole result until it is written, so that a later
// block of the same key can still add to the key's first place: 8 bytes per
// certification kept plus 48 to 72 bytes per key kept or left out (its
// entry and its slots in the id index), less than the size of the key list
// written. The listing itself is never held; it is many times larger.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

// Key id -> entry position, open addressing with linear probing; kept at
// most half full.
struct key_index {
    std::vector<uint64_t> ids;
    std::vector<uint32_t> positions; // EMPTY where no id is stored
    size_t used = 0;
    static constexpr uint32_t EMPTY = UINT32_MAX;
};

// The position stored for id, or key_index::EMPTY.
uint32_t find_position(const key_index& index, uint64_t id);
void insert_position(key_index& index, uint64_t id, uint32_t position);

struct key_list_table {
    struct entry {
        uint64_t id;
        uint64_t first_signer; // position of its signers in the signers array
        uint32_t signer_count;
        bool left_out; // revoked or expired in one of its blocks
    };
    std::vector<entry> entries;
    std::vector<uint64_t> signers;                                     // sorted, distinct per entry
    key_index index;                                                   // key id -> entry
    std::unordered_map<uint32_t, std::vector<uint64_t>> later_signers; // from repeated blocks
};

// Adds one block of the listing (the arguments of key_sink).
void add_key_block(key_list_table& table, uint64_t id, bool kept,
                   const std::vector<uint64_t>& signers);

struct written_counts {
    uint64_t keys = 0;
    uint64_t signatures = 0;
};

// Writes the key list's records (key_list_format.h) through write, in pieces of up to about a
// megabyte. Returns false as soon as write does.
bool write_key_list(const key_list_table& table,
                    const std::function<bool(const char*, size_t)>& write, written_counts& counts);
