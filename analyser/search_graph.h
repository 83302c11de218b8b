// The graph the batch searches walk: the reachable keys that have to be
// searched, renumbered densely, with their signatures in both directions,
// and the keys left out because they can inherit their statistics.
//
// Keys outside the strong set whose only signer (other than themselves) is
// one key s are exactly one hop behind s for every member. Where such a key
// signs no key that still needs searching, it is left out of the search and
// inherits s's statistics shifted by one hop afterwards; chains and trees of
// such keys are resolved parents first.
//
// Searched keys are numbered by how many keys they sign, most first: the
// frontiers read most often then share a few cache lines, and a key's
// signers are read busiest first, which lets a bottom-up step stop sooner.
//
// Members get their lanes in breadth-first order over signatures in both
// directions, from the busiest member. Members near each other have similar
// distances to every key, so a line of 512 lanes tends to be reached within
// a few levels and to fill up early, and then it is no longer read.
#pragma once

#include "analysis_results.h"
#include "key_graph.h"

#include <cstdint>
#include <vector>

struct search_graph {
    std::vector<int32_t> entry_of;     // searched key -> index into the distance table
    std::vector<int64_t> signer_start; // size + 1 offsets into signers
    std::vector<int32_t> signers;      // searched-key numbers, each key's ascending
    std::vector<int64_t> signed_start; // size + 1 offsets into signed_keys
    std::vector<int32_t> signed_keys;  // keys each key signed, searched-key numbers
    std::vector<int32_t> members;      // searched-key numbers in lane order
    std::vector<int32_t> member_rank;  // position in members, or -1
    std::vector<int32_t> member_keys;  // key index of each of members
};

// A key left out of the search, with the table entry it inherits from.
struct inherited_key {
    int32_t entry;
    int32_t parent_entry;
};

// Splits the reachable keys (table_keys, ascending key index) into searched
// keys, described by search, and inheriting keys, which come out parents
// first.
void partition_keys(const key_graph& g, const set_results& s,
                    const std::vector<int32_t>& table_keys, search_graph& search,
                    std::vector<inherited_key>& inherited);
