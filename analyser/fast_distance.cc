// Fast distance analysis: multi-source bit-parallel breadth-first search,
// with word-wide searches where the batches would be slower.
//
// Every reachable key needs its distances from every strong-set member. One
// search per key costs a walk over the whole graph per key. Instead the
// searches run from the members' side, along signs, many at once: a batch of
// LANES members gets one bit each (a lane), and every key holds a lane set
// per search state (seen, frontier; lane_set.h). One pass over the graph
// advances all searches of the batch by one level, so a key's signature
// lists are read once per level for the whole batch instead of once per
// search. This is the multi-source BFS of Then et al., "The More the
// Merrier: Efficient Multi-Source Graph Traversal", VLDB 2014. The keys
// searched, their numbering and the lane order are described in
// search_graph.h.
//
// Each level is stepped one of two ways, chosen per level (the direction-
// optimising BFS of Beamer et al., "Direction-Optimizing Breadth-First
// Search", SC 2012). Bottom-up: every key whose lanes are not all seen ORs
// the frontiers of its signers, stopping early once the remaining lanes are
// covered; this suits wide frontiers, but it looks at every key. Top-down:
// only the keys of the last frontier, kept in lists, push their non-empty
// frontier lines along their signatures to the unfinished keys they signed.
// A level goes top-down when its frontier's signatures (times
// TOP_DOWN_COST) are fewer than the keys plus the signatures into unfinished
// keys, which is what a bottom-up level looks at. Every member reaches every
// reachable key, so each key ends with all lanes seen; a key that has them
// all drops out of later levels.
//
// The bits a key gains at level d are members at exactly d hops:
// popcount(new) goes into hop_counts[min(d, HOP_LIMIT)] and d * popcount into
// distance_total, so there is no per-pair work. The level at which a key
// gains its last lanes is the batch's greatest distance to it, and those
// lanes are the batch's farthest members; across batches a larger distance
// replaces the key's farthest list and an equal one extends it
// (farthest_lists.h keeps the lists as lane runs).
//
// Word-wide searches. Wide lane sets pay off when many searches of a batch
// reach the same key at the same level. On deep graphs (rings, long chains,
// grids, long tails) they do not: each key gains one or two lanes per
// level, over as many levels as the graph is long, and a batch moves a line
// of 512 lanes per key and level to carry those bits. The searches of
// word_search.h carry 64 members in one word per key instead, and cost at
// most what one plain search per member costs. So the analysis measures: it
// first runs a few word-wide searches from the last members in lane order
// (timed in processor time, and counted like any other), and any batch that
// takes more processor time, over all threads, than those searches would
// for its members is left at the end of a level d; its members are then
// searched 64 at a time, recording only the distances beyond d, and so are
// all members after it. Whether a batch is over is decided once it has used
// a share of that time, by projecting its time so far to all its distances;
// see over_budget.
//
// Threads: all threads work on the same batch and the same level, and
// levels are separated by a barrier. Bottom-up, each thread takes chunks of
// keys; top-down, every thread reads the whole frontier but handles only
// the keys signed in its own blocks of keys. Either way a key's search
// state and statistics are written by one thread in a level, and what a key
// gains in a level depends only on the frontier, so the results do not
// depend on the number of threads or on which thread handled which key.
// Top-down levels with a very small frontier are run by one thread between
// barriers, where waking the others would cost more than the level.
// Word-wide searches are shared out by groups of members; each thread but
// the first adds into statistics of its own, which are added up at the end.
//
// Memory, for R reachable keys, S searched keys (R minus the inheriting
// keys), E signatures among them and T threads, in bytes:
//   per searched key: 3 lane sets (seen, two frontier levels) 1,536, three
//     line bytes 3, statistics 160, the list header 24; frontier lists at
//     most 8 in all;
//   the search graph: 8 per signature in both directions (E * 8) plus 36
//     per searched key for offsets and numbering;
//   per reachable key: statistics 160 and 8 of numbering, in the result;
//   farthest lists: a run per batch in which a key met members at its
//     greatest distance so far, 6 bytes plus 2 per member or a 512-byte
//     bitmap, whichever is smaller; one at most per batch and key;
//   when word-wide searches run (after the lane sets are freed): 40 per
//     searched key and thread (state and level lists), and per thread
//     beyond the first 184 more (own statistics and list headers).
// So S * 1.75 KB + E * 8 + R * 0.2 KB, plus the farthest lists, which are
// as large as the farthest members the reports will name (a bit per member
// at worst), plus the key graph itself (korvalinde.1, NOTES).
//
// The batches are in lane_batches.cc; this file runs the probe, leaves
// what the batches give up to word-wide searches and puts the results
// together.
#include "fast_distance.h"

#include "farthest_lists.h"
#include "lane_batches.h"
#include "lane_set.h"
#include "progress.h"
#include "search_graph.h"
#include "word_search.h"

#include <algorithm>
#include <ctime>

namespace {

// The timed word-wide searches: at least this much processor time in all,
// and at most this many members.
constexpr double PROBE_SECONDS = 0.02;
constexpr int32_t PROBE_MEMBERS = 1024;

// The statistics of a key whose only signer has the statistics p.
void inherit_shifted(const key_stats& p, int32_t member_count, key_stats& out) {
    out.distance_total = p.distance_total + member_count;
    out.hop_counts[0] = 0;
    for (int h = 1; h < HOP_LIMIT; ++h)
        out.hop_counts[h] = p.hop_counts[h - 1];
    out.hop_counts[HOP_LIMIT] = p.hop_counts[HOP_LIMIT - 1] + p.hop_counts[HOP_LIMIT];
    out.max_hops = p.max_hops + 1;
}

// Every searched key's statistics and farthest runs, over all members.
void run_searches(const search_graph& graph, int threads, level_steps steps,
                  source_results& results) {
    const auto members = static_cast<int32_t>(graph.members.size());
    if (members == 0) return;
    if (steps == level_steps::word_searches_only) {
        run_member_groups(graph, member_groups(0, members, 0, -1), threads, results);
        return;
    }
    // The timed word-wide searches take the last groups of members in lane
    // order, until they have used PROBE_SECONDS or searched PROBE_MEMBERS.
    int32_t lane_members = members;
    double probe_seconds = 0;
    if (steps == level_steps::adaptive) {
        word_scratch scratch;
        const double started = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
        while (lane_members > 0 && members - lane_members < PROBE_MEMBERS &&
               probe_seconds < PROBE_SECONDS) {
            const int32_t first = (lane_members - 1) / WORD_LANES * WORD_LANES;
            search_member_group(graph, {first, lane_members - first, -1}, scratch, results);
            progress_advance(lane_members - first);
            lane_members = first;
            probe_seconds = cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - started;
        }
    }
    const int32_t probed = members - lane_members;
    double per_member = probed > 0 ? probe_seconds / probed : 0;
    if (steps == level_steps::batches_then_words)
        per_member = 0;
    else if (steps != level_steps::adaptive)
        per_member = 1e300;
    int32_t abandoned_batch = -1;
    const int32_t beyond =
        run_batches(graph, lane_members, threads, steps, per_member, results, abandoned_batch);
    if (beyond < 0) return;
    const int32_t first = abandoned_batch * LANES;
    run_member_groups(
        graph, member_groups(first, lane_members, std::min(first + LANES, lane_members), beyond),
        threads, results);
}

} // namespace

distance_table fast_analysis(const key_graph& g, const set_results& s, int threads,
                             level_steps steps) {
    distance_table table;
    for (int32_t k = 0; k < g.key_count; ++k)
        if (s.reachable[k]) table.keys.push_back(k);
    if (table.keys.empty()) return table;
    threads = std::max(threads, 1);

    search_graph graph;
    std::vector<inherited_key> inherited;
    partition_keys(g, s, table.keys, graph, inherited);
    const auto members = static_cast<int32_t>(graph.members.size());
    farthest_lists& far = table.farthest;
    {
        std::vector<key_stats> stats(graph.entry_of.size());
        far.runs.resize(graph.entry_of.size());
        source_results results{stats, far.runs};
        progress_phase progress("analysis", members, "members");
        run_searches(graph, threads, steps, results);
        // Made only now that the lane arrays are gone.
        table.stats.resize(table.keys.size());
        for (size_t c = 0; c < graph.entry_of.size(); ++c)
            table.stats[graph.entry_of[c]] = stats[c];
    }
    far.list_of.assign(table.keys.size(), -1);
    far.readers.assign(graph.entry_of.size(), 1);
    for (size_t c = 0; c < graph.entry_of.size(); ++c)
        far.list_of[graph.entry_of[c]] = static_cast<int32_t>(c);
    // Every member is one hop farther from an inheriting key than from its
    // signer, and the inheriting key shares its signer's farthest list.
    for (const inherited_key& key : inherited) {
        inherit_shifted(table.stats[key.parent_entry], members, table.stats[key.entry]);
        int32_t list = far.list_of[key.parent_entry];
        far.list_of[key.entry] = list;
        ++far.readers[list];
    }
    far.member_keys = std::move(graph.member_keys);
    return table;
}
