#include "word_search.h"

#include "farthest_lists.h"
#include "processor_clones.h"
#include "progress.h"
#include "worker_threads.h"

#include <algorithm>
#include <atomic>
#include <bit>

namespace {

constexpr int FAR_COUNT_SHIFT = 40;

// Adds the distances of the members in bits, seen by key c at d hops (d
// beyond the group's level), where c has now seen all the group's members
// if complete. Distances of HOP_LIMIT hops or more, which is most of them on
// deep graphs, are summed in the key's state (far_step is 2^40 + d) and
// added to the statistics once the group is done.
inline void record(const member_group& group, int32_t c, int32_t d, uint64_t far_step,
                   uint64_t bits, bool complete, word_state& state, source_results& out) {
    const auto n = static_cast<uint64_t>(std::popcount(bits));
    if (far_step != 0) {
        state.far += far_step * n;
    } else {
        key_stats& st = out.stats[c];
        st.hop_counts[d] += static_cast<int32_t>(n);
        st.distance_total += static_cast<int64_t>(static_cast<uint64_t>(d) * n);
    }
    // The last members a key sees are the group's farthest from it.
    if (!complete) return;
    key_stats& st = out.stats[c];
    if (d > st.max_hops) {
        st.max_hops = d;
        clear_runs(out.runs[c]);
    }
    if (d == st.max_hops) add_word_run(out.runs[c], group.first_rank, bits);
}

// Adds the statistics and farthest lists of part into whole, emptying part.
void add_results(source_results& whole, source_results& part) {
    for (size_t c = 0; c < whole.stats.size(); ++c) {
        key_stats& w = whole.stats[c];
        const key_stats& p = part.stats[c];
        w.distance_total += p.distance_total;
        for (int h = 0; h <= HOP_LIMIT; ++h)
            w.hop_counts[h] += p.hop_counts[h];
        if (part.runs[c].empty()) continue;
        if (p.max_hops > w.max_hops) {
            w.max_hops = p.max_hops;
            whole.runs[c].swap(part.runs[c]);
        } else if (p.max_hops == w.max_hops) {
            whole.runs[c].insert(whole.runs[c].end(), part.runs[c].begin(), part.runs[c].end());
        }
        clear_runs(part.runs[c]);
    }
}

} // namespace

for_each_processor("popcnt", "default") void search_member_group(const search_graph& graph,
                                                                 const member_group& group,
                                                                 word_scratch& scratch,
                                                                 source_results& out) {
    const auto searched_count = graph.entry_of.size();
    if (scratch.state.size() != searched_count) {
        scratch.state.assign(searched_count, {});
        scratch.keys[0].resize(searched_count);
        scratch.keys[1].resize(searched_count);
    }
    word_state* state = scratch.state.data();
    const uint64_t all =
        group.count == WORD_LANES ? ~uint64_t{0} : (uint64_t{1} << group.count) - 1;
    const int64_t* start = graph.signed_start.data();
    const int32_t* signed_keys = graph.signed_keys.data();

    // Level 0: each member reaches itself. A key is listed at most once a
    // level, so each list has room for every key.
    int32_t* list[2] = {scratch.keys[0].data(), scratch.keys[1].data()};
    size_t listed = 0;
    for (int32_t lane = 0; lane < group.count; ++lane) {
        const int32_t c = graph.members[group.first_rank + lane];
        state[c].reached[0] = uint64_t{1} << lane;
        list[0][listed++] = c;
    }
    // The keys reached at level d, with the bits pushed to them, are
    // settled and push on in one pass: a key keeps the bits it had not
    // seen, and passes those to the keys it signed. A key signed by one of
    // the same level may be pushed bits it is about to see at this level;
    // they are dropped when it is settled at the next.
    int32_t d = 0;
    for (; listed > 0; ++d) {
        const int now = d & 1;
        const int32_t* reached = list[now];
        const int32_t* reached_end = reached + listed;
        int32_t* next = list[now ^ 1];
        int32_t* next_end = next;
        const bool counted = d > group.beyond;
        const uint64_t far_step =
            d >= HOP_LIMIT ? (uint64_t{1} << FAR_COUNT_SHIFT) + static_cast<uint64_t>(d) : 0;
        for (; reached != reached_end; ++reached) {
            const int32_t c = *reached;
            word_state& sc = state[c];
            const uint64_t bits = sc.reached[now] & ~sc.seen;
            sc.reached[now] = 0;
            if (bits == 0) continue;
            sc.seen |= bits;
            if (counted) record(group, c, d, far_step, bits, sc.seen == all, sc, out);
            for (int64_t i = start[c]; i < start[c + 1]; ++i) {
                const int32_t w = signed_keys[i];
                word_state& sw = state[w];
                const uint64_t fresh = bits & ~sw.seen;
                if (fresh == 0) continue;
                if (sw.reached[now ^ 1] == 0) *next_end++ = w;
                sw.reached[now ^ 1] |= fresh;
            }
        }
        listed = static_cast<size_t>(next_end - next);
    }
    // Every reached word is zero again (the last level reached no key);
    // the seen words and far sums are cleared with a walk over every key,
    // as a search that needs groups at all reaches most keys.
    const bool far = d > HOP_LIMIT;
    for (size_t c = 0; c < searched_count; ++c) {
        word_state& sc = state[c];
        sc.seen = 0;
        if (!far || sc.far == 0) continue;
        key_stats& st = out.stats[c];
        st.hop_counts[HOP_LIMIT] += static_cast<int32_t>(sc.far >> FAR_COUNT_SHIFT);
        st.distance_total += static_cast<int64_t>(sc.far & ((uint64_t{1} << FAR_COUNT_SHIFT) - 1));
        sc.far = 0;
    }
}

std::vector<member_group> member_groups(int32_t first, int32_t last, int32_t partial,
                                        int32_t beyond) {
    std::vector<member_group> groups;
    for (int32_t r = first; r < last;) {
        const int32_t end = std::min((r / WORD_LANES + 1) * WORD_LANES, last);
        // A group lies wholly below or above partial when partial is aligned.
        groups.push_back({r, end - r, r < partial ? beyond : -1});
        r = end;
    }
    return groups;
}

void run_member_groups(const search_graph& graph, const std::vector<member_group>& groups,
                       int threads, source_results& results) {
    std::atomic<size_t> next{0};
    std::atomic<int> next_slot{0};
    const size_t searched_count = graph.entry_of.size();
    std::vector<std::vector<key_stats>> part_stats(static_cast<size_t>(threads));
    std::vector<std::vector<std::vector<uint16_t>>> part_runs(static_cast<size_t>(threads));
    run_on_threads(threads, [&] {
        const int slot = next_slot.fetch_add(1);
        source_results own{part_stats[static_cast<size_t>(slot)],
                           part_runs[static_cast<size_t>(slot)]};
        source_results& out = slot == 0 ? results : own;
        word_scratch scratch;
        for (;;) {
            const size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= groups.size()) return;
            if (slot != 0 && own.stats.empty()) {
                own.stats.resize(searched_count);
                own.runs.resize(searched_count);
            }
            search_member_group(graph, groups[i], scratch, out);
            progress_advance(groups[i].count);
        }
    });
    for (size_t t = 1; t < part_stats.size(); ++t) {
        if (part_stats[t].empty()) continue;
        source_results part{part_stats[t], part_runs[t]};
        add_results(results, part);
        std::vector<key_stats>().swap(part_stats[t]);
        std::vector<std::vector<uint16_t>>().swap(part_runs[t]);
    }
}
