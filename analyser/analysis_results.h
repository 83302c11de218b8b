// The results of korvalinde's passes over the signature graph: the
// strongly connected sets and the reachable set, and the distance statistics
// of every reachable key.
#pragma once

#include "farthest_lists.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Strongly connected sets and the reachable set.
struct set_results {
    std::vector<int32_t> component_of; // key index of the root of each key's set
    int32_t strong_set_root = 0;
    int32_t strong_set_size = 0;
    std::vector<uint8_t> reachable; // 1 for keys reachable from the strong set
    int32_t reachable_size = 0;
};

inline bool in_strong_set(const set_results& s, int32_t k) {
    return s.component_of[k] == s.strong_set_root;
}

// Distances of strong-set members to one key.
constexpr int HOP_LIMIT = 30;
// Every byte of a distance entry set to 100: a key with no chain to the start.
constexpr int32_t NO_DISTANCE = 1684300900;

struct key_stats {
    int64_t distance_total = 0;
    // hop_counts[h]: members at exactly h hops for h < HOP_LIMIT;
    // hop_counts[HOP_LIMIT]: members at HOP_LIMIT hops or more.
    int32_t hop_counts[HOP_LIMIT + 1] = {};
    int32_t max_hops = 0; // true greatest member distance, not capped
    // Members at max_hops, ascending key index, where the table keeps its
    // lists here rather than in farthest (see farthest_keys_of).
    std::vector<int32_t> farthest_keys;
};

// The mean distance in single precision: both operands are converted to
// float and divided as floats.
inline float mean_distance(const key_stats& s, int32_t strong_set_size) {
    return static_cast<float>(s.distance_total) / static_cast<float>(strong_set_size);
}

// The statistics of every reachable key, in ascending key index.
struct distance_table {
    std::vector<int32_t> keys;    // the reachable keys, ascending key index
    std::vector<key_stats> stats; // stats[i] belongs to keys[i]
    // The farthest lists in compact form; empty (no list_of) when they are
    // in stats[i].farthest_keys.
    farthest_lists farthest;
};

// The farthest members of table entry i, ascending key index; scratch holds
// them when they have to be decoded.
const std::vector<int32_t>& farthest_keys_of(const distance_table& t, size_t i,
                                             std::vector<int32_t>& scratch);

// Says that the report of entry i has been written: a compact list that no
// other report needs is freed.
void farthest_keys_used(distance_table& t, size_t i);
