// Word-wide searches: breadth-first searches from up to 64 members at once,
// one bit each in a machine word per key, stepped top-down.
//
// They take the members the lane batches leave (fast_distance.cc): on deep
// graphs (rings, long chains, grids, long tails) a key gains one or two
// members per level, over as many levels as the graph is long, and a
// 4,096-lane batch moves a line of lane state per key to carry those few
// bits. Here a key's state is three words (seen, frontier, collected), and
// each level walks only the keys that gained members in the last one,
// pushing their new bits to the keys they signed. One level's keys are
// independent of each other, so the processor overlaps their loads, where a
// single search is one chain of dependent loads from key to key. A group
// costs at most what its members' single searches cost: each key is in the
// frontier at most once per member, and usually far less often, as members
// near each other in lane order reach a key at nearly the same level.
//
// The bits a key gains at level d are members at exactly d hops, added to
// its statistics by popcount; the level at which a key has seen all of the
// group's members is the group's greatest distance to it, and those last
// members go into its farthest list (farthest_lists.h). A group may count
// only the distances beyond a given level, where a lane batch already
// counted the nearer ones.
//
// Threads take groups from a common counter; each thread but the first
// adds into statistics of its own, which are added up at the end, so the
// results do not depend on the number of threads or on which thread took
// which group.
#pragma once

#include "analysis_results.h"
#include "key_graph.h"
#include "search_graph.h"

#include <cstdint>
#include <vector>

constexpr int32_t WORD_LANES = 64;

// Where the searches put what they find: the statistics and the farthest
// lists of every searched key.
struct source_results {
    std::vector<key_stats>& stats;
    std::vector<std::vector<uint16_t>>& runs;
};

// The members of ranks [first_rank, first_rank + count), which lie in one
// aligned word of lanes (count at most WORD_LANES), counted only at more
// than beyond hops (-1: all).
struct member_group {
    int32_t first_rank;
    int32_t count;
    int32_t beyond;
};

// A key's state in one group's search, 32 bytes, so that a step reads one
// place per key.
struct alignas(32) word_state {
    uint64_t seen;
    uint64_t reached[2]; // bits pushed to the key at a level, by parity
    // Members seen at HOP_LIMIT hops or more: their count times 2^40 plus
    // the sum of their distances (below 64 * 2^31, so it never carries into
    // the count), added to the statistics when the group is done.
    uint64_t far;
};

// A thread's arrays for the searches, sized on first use.
struct word_scratch {
    std::vector<word_state> state;
    std::vector<int32_t> keys[2]; // room for the keys reached at a level, by parity
};

// One group's search, adding into out.
void search_member_group(const search_graph& graph, const member_group& group,
                         word_scratch& scratch, source_results& out);

// The members [first, last) as groups, aligned on words of lanes, those
// below partial counted only beyond the given level.
std::vector<member_group> member_groups(int32_t first, int32_t last, int32_t partial,
                                        int32_t beyond);

// Runs the groups on the given number of threads, advancing the progress
// display by each group's members.
void run_member_groups(const search_graph& graph, const std::vector<member_group>& groups,
                       int threads, source_results& results);
