// The signature graph in the form korvalinde-path queries it: for every key
// its distinct signers and the distinct keys it signed, each list sorted by
// key id, with self-signatures left out. Repeated signatures and
// self-signatures never change a distance, a count of shortest paths or a
// count of disjoint paths, so the simple graph answers every query the same
// as the full one.
#pragma once

#include "key_graph.h"
#include "key_lookup.h"

#include <cstdint>
#include <span>
#include <vector>

struct path_index {
    int32_t key_count = 0;
    std::vector<uint64_t> ids;          // the id of each key index (high half first)
    std::vector<int64_t> signs_start;   // key_count + 1 offsets into signs_keys
    std::vector<int32_t> signs_keys;    // distinct keys each key signed, ascending id
    std::vector<int64_t> signers_start; // key_count + 1 offsets into signers_keys
    std::vector<int32_t> signers_keys;  // distinct signers of each key, ascending id
    key_lookup lookup;                  // id to the lowest key index with it
    // (low 32 bits of the id << 32 | key index) for the first key of each id,
    // ascending: the keys an 8-digit name may mean.
    std::vector<uint64_t> by_low;
};

// Builds the index from an imported graph and the import's id lookup;
// takes the graph's adjacency apart as it goes to keep the peak memory down.
path_index build_path_index(key_graph&& g, key_lookup&& lookup);

inline std::span<const int32_t> signed_keys(const path_index& ix, int32_t k) {
    return {ix.signs_keys.data() + ix.signs_start[static_cast<size_t>(k)],
            ix.signs_keys.data() + ix.signs_start[static_cast<size_t>(k) + 1]};
}

inline std::span<const int32_t> signers(const path_index& ix, int32_t k) {
    return {ix.signers_keys.data() + ix.signers_start[static_cast<size_t>(k)],
            ix.signers_keys.data() + ix.signers_start[static_cast<size_t>(k) + 1]};
}

// The key index of an id (the lowest, when the list repeats it), or -1.
int32_t key_of_id(const path_index& ix, uint64_t id);

// The key indexes whose id ends in these 32 bits, ascending by key index.
std::vector<int32_t> keys_with_low_half(const path_index& ix, uint32_t low);
