// The answers korvalinde-path gives for one pair of keys: the length of the
// shortest signature paths, how many there are, the first of them in order
// of their key ids, and how many paths share no key but the two ends.
//
// Every search works on the part of the graph it touches: the per-key
// arrays of a search_space are allocated once, and each query resets only
// the entries it marked, so a query costs what it visits, not the size of
// the graph.
#pragma once

#include "path_index.h"

#include <chrono>
#include <cstdint>
#include <vector>

constexpr uint64_t PATH_COUNT_MAX = UINT64_MAX;

struct path_answer {
    int32_t hops = -1;        // -1: no path
    uint64_t paths_total = 0; // shortest paths; PATH_COUNT_MAX means at least that many
    bool paths_saturated = false;
    std::vector<std::vector<int32_t>> paths; // the first shortest paths by key-id order
    int32_t disjoint = 0;           // paths sharing no key but the two ends, up to the limit
    bool disjoint_at_least = false; // the limit was reached and more may exist
    bool out_of_time = false;       // the deadline passed before the count was done
};

// Per-key working arrays, reused from query to query.
struct search_space {
    std::vector<int32_t> dist_from;   // hops from the start key, -1 unseen
    std::vector<int32_t> dist_to;     // hops to the end key, -1 unseen
    std::vector<uint64_t> count_from; // shortest paths from the start key
    std::vector<uint64_t> count_to;   // shortest paths to the end key
    std::vector<int32_t> position;    // place on a shortest path, -1 on none
    std::vector<int32_t> touched;     // keys whose entries above are set

    // Disjoint paths: the flow through each key (the key it receives from
    // and sends to, -1 none) and the two searches over (key, in or out).
    std::vector<int32_t> flow_prev;
    std::vector<int32_t> flow_next;
    std::vector<int32_t> flow_touched;
    std::vector<int32_t> parent_from; // per node 2 * key + side; UNSEEN or the node before
    std::vector<int32_t> parent_to;   // the node after, toward the end key
    std::vector<int32_t> node_touched;

    // Counting disjoint paths stops here (a server bounds each query's
    // work); the count so far is kept and the answer says it is unfinished.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

search_space make_search_space(int32_t key_count);

// The shortest paths from one key to another: hops, the count and at most
// path_limit of them in ascending order of their key-id sequences.
void find_shortest_paths(const path_index& ix, search_space& space, int32_t from, int32_t to,
                         int32_t path_limit, path_answer& answer);

// The number of paths from one key to the other that share no key but the
// two, counted up to limit (at least 1). A key to itself counts as one path.
void count_disjoint_paths(const path_index& ix, search_space& space, int32_t from, int32_t to,
                          int32_t limit, path_answer& answer);

// Both of the above.
path_answer answer_query(const path_index& ix, search_space& space, int32_t from, int32_t to,
                         int32_t path_limit, int32_t disjoint_limit);
