#include "lane_batches.h"

#include "farthest_lists.h"
#include "lane_set.h"
#include "progress.h"
#include "start_threads.h"
#include "worker_threads.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <bit>
#include <new>
#include <thread>

double cpu_seconds(clockid_t clock) {
    timespec now{};
    // Cannot fail for these clocks on Linux; a failure reads as time 0,
    // which only keeps batches running.
    if (clock_gettime(clock, &now) != 0) return 0;
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

namespace {

constexpr int32_t CHUNK = 512;
// In top-down levels each thread handles the keys of its own blocks of this
// many consecutive keys; the blocks are dealt out in turn. Whole blocks keep
// threads from writing line bytes in the same cache line.
constexpr int32_t OWNER_BLOCK = 256;
// A level is stepped top-down when its frontier's signatures, times this,
// are fewer than the keys plus the signatures into unfinished keys, which a
// bottom-up level looks at: pushing lines along a signature costs more than
// looking at a signer's line byte.
constexpr int64_t TOP_DOWN_COST = 2;
// Top-down levels with at most this many frontier signatures are run by one
// thread alone.
constexpr int64_t SERIAL_EDGES = 8192;
// A batch's cost is projected from its progress once it has used this share
// of its budget and reached this level (see over_budget).
constexpr double PROJECT_AFTER = 1.0 / 16;
constexpr int32_t PROJECT_FROM_LEVEL = 16;

enum class search_phase { reset, level, done };

// What one thread's share of a phase produced, summed over all threads
// between phases to choose how the next level is stepped.
struct level_tally {
    int64_t frontier_keys = 0;     // keys that saw new lanes
    int64_t frontier_edges = 0;    // the signatures those keys made
    int64_t finished_in_edges = 0; // the signatures into keys that became complete
    int64_t found_pairs = 0;       // (member, key) distances found
};

// The keys each thread put into the frontier of the two latest levels,
// kept apart per thread so that no thread waits for another to add a key.
struct alignas(64) frontier_lists {
    std::vector<int32_t> keys[2]; // keys[d & 1]: the keys with lanes new at level d
};

// The shared state of the searches of one batch of members.
struct batch_search {
    const search_graph& graph;
    const level_steps steps;
    int32_t searched_count = 0;
    int32_t lane_members = 0; // members[0, lane_members) are searched in batches
    int32_t batch_count = 0;
    int32_t abandoned_level = -1; // see budget

    // The statistics and farthest lists of each searched key, gathered over
    // all batches.
    std::vector<key_stats>& stats;
    std::vector<std::vector<uint16_t>>& runs;
    lane_array seen;
    lane_array frontier[2]; // frontier[d & 1]: lanes first reached at level d
    // open_lines[c]: the lines in which key c has not yet seen every lane;
    // 0 once the key is complete for this batch.
    std::vector<line_mask> open_lines;
    // frontier_lines[d & 1][c]: the lines of frontier[d & 1][c] that hold
    // lanes of level d, 0 for keys not in that level's frontier. Only these
    // lines are ever read; most are empty.
    std::vector<line_mask> frontier_lines[2];
    line_mask used_lines = 0; // lines holding at least one lane of the batch

    // One entry per thread that may run; lists[t] is written only by thread
    // t, and by the step between phases.
    std::vector<frontier_lists> lists;
    // The threads that run, and which of them handles each block of keys in
    // top-down levels. Set before the first level.
    int32_t workers = 1;
    std::vector<uint16_t> block_owner;

    // Changed only between phases (by the barrier's completion step).
    search_phase phase = search_phase::reset;
    bool top_down = false; // how the current level is stepped
    int32_t batch = 0;
    int32_t level = 0;
    int32_t first_member = 0; // members[first_member] is lane 0
    int32_t lane_count = 0;
    lane_set unused_lanes{};
    // The frontier of the last finished level, and the signatures into the
    // keys that are not yet complete.
    int64_t frontier_keys = 0;
    int64_t frontier_edges = 0;
    int64_t open_in_edges = 0;
    int64_t found_pairs = 0; // in this batch so far

    // A batch that takes more processor time (all threads together) than
    // budget is left at the end of a level (abandoned_level, or -1) to
    // word-wide searches.
    double batch_started = 0;
    double budget = 1e300;
    double seconds_per_member = 1e300;

    std::atomic<int32_t> next_chunk{0};
    std::atomic<int64_t> tally_keys{0};
    std::atomic<int64_t> tally_edges{0};
    std::atomic<int64_t> tally_finished{0};
    std::atomic<int64_t> tally_pairs{0};

    batch_search(const search_graph& g, level_steps how, int threads, int32_t in_lanes,
                 std::vector<key_stats>& st, std::vector<std::vector<uint16_t>>& r)
        : graph(g), steps(how), searched_count(static_cast<int32_t>(g.entry_of.size())),
          lane_members(in_lanes), batch_count((in_lanes + LANES - 1) / LANES), stats(st), runs(r),
          seen(g.entry_of.size()), frontier{lane_array(g.entry_of.size()),
                                            lane_array(g.entry_of.size())},
          lists(static_cast<size_t>(threads)) {
        open_lines.resize(static_cast<size_t>(searched_count));
        frontier_lines[0].resize(static_cast<size_t>(searched_count));
        frontier_lines[1].resize(static_cast<size_t>(searched_count));
        set_workers(1);
    }

    // Deals the blocks of keys out to the threads that actually run.
    void set_workers(int32_t count) {
        workers = count;
        block_owner.resize(static_cast<size_t>(searched_count / OWNER_BLOCK) + 1);
        for (size_t b = 0; b < block_owner.size(); ++b)
            block_owner[b] = static_cast<uint16_t>(b % static_cast<size_t>(count));
    }

    int64_t in_degree(int32_t c) const { return graph.signer_start[c + 1] - graph.signer_start[c]; }
    int64_t out_degree(int32_t c) const {
        return graph.signed_start[c + 1] - graph.signed_start[c];
    }

    void start_batch(int32_t b) {
        batch = b;
        first_member = b * LANES;
        lane_count = std::min<int32_t>(LANES, lane_members - first_member);
        // Lanes beyond the last member count as seen from the start, so that
        // "all lanes seen" means the same in every batch.
        for (int w = 0; w < LANE_WORDS; ++w) {
            int used = std::clamp(lane_count - 64 * w, 0, 64);
            unused_lanes.word[w] = used == 64 ? 0 : ~uint64_t{0} << used;
        }
        used_lines = 0;
        for (int l = 0; l < LINES; ++l)
            if (lane_count > l * LINE_WORDS * 64) used_lines |= static_cast<line_mask>(1u << l);
        for (frontier_lists& l : lists) {
            l.keys[0].clear();
            l.keys[1].clear();
        }
        open_in_edges = static_cast<int64_t>(graph.signers.size());
        found_pairs = 0;
        phase = search_phase::reset;
        level = 0;
        budget = seconds_per_member * lane_count;
        batch_started = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    }

    // Records that key c sees the count lanes in fresh (within lines) at
    // distance d.
    void record(int32_t c, int32_t d, const lane_set& fresh, line_mask lines, int32_t count,
                bool complete) {
        key_stats& st = stats[c];
        st.hop_counts[std::min(d, HOP_LIMIT)] += count;
        st.distance_total += static_cast<int64_t>(d) * count;
        if (!complete) return;
        // The last lanes a key sees in a batch are the batch's farthest
        // members from it.
        if (d > st.max_hops) {
            st.max_hops = d;
            clear_runs(runs[c]);
        }
        if (d == st.max_hops) add_lane_run(runs[c], batch, fresh.word, lines, count);
    }

    // Key c has just seen the lanes in fresh (already added to seen[c]) at
    // the current level: closes the lines that filled up, records the
    // distances and counts c into the frontier.
    void note_fresh(int32_t c, const lane_set& fresh, const settled_lines& settled,
                    std::vector<int32_t>& out, level_tally& tally) {
        open_lines[c] &= static_cast<line_mask>(~settled.filled);
        bool complete = open_lines[c] == 0;
        record(c, level, fresh, settled.fresh, settled.count, complete);
        out.push_back(c);
        ++tally.frontier_keys;
        tally.frontier_edges += out_degree(c);
        if (complete) tally.finished_in_edges += in_degree(c);
        tally.found_pairs += settled.count;
    }

    void reset_key(int32_t c, std::vector<int32_t>& out, level_tally& tally) {
        lane_set& sn = seen[c];
        sn = unused_lanes;
        open_lines[c] = used_lines;
        frontier_lines[0][c] = 0;
        frontier_lines[1][c] = 0;
        int32_t lane = graph.member_rank[c] - first_member;
        if (graph.member_rank[c] >= 0 && lane >= 0 && lane < lane_count) {
            int w = lane / 64;
            int l = w / LINE_WORDS;
            auto line = static_cast<line_mask>(1u << l);
            lane_set& f0 = frontier[0][c];
            for (int x = l * LINE_WORDS; x < (l + 1) * LINE_WORDS; ++x)
                f0.word[x] = 0;
            f0.word[w] = uint64_t{1} << (lane % 64);
            frontier_lines[0][c] = line;
            sn.word[w] |= f0.word[w];
            note_fresh(c, f0, {line, full_lines(sn, line), 1}, out, tally);
        }
    }

    // One bottom-up step for key c: it gathers the frontiers of its signers.
    void bottom_up_key(int32_t c, std::vector<int32_t>& out, level_tally& tally) {
        // A complete key is left alone and its frontier counts as empty.
        line_mask& out_lines = frontier_lines[level & 1][c];
        line_mask open = open_lines[c];
        if (open == 0) {
            out_lines = 0;
            return;
        }
        const lane_set* in = frontier[(level - 1) & 1].data();
        const line_mask* in_lines = frontier_lines[(level - 1) & 1].data();
        const int32_t* signer = graph.signers.data() + graph.signer_start[c];
        const int32_t* end = graph.signers.data() + graph.signer_start[c + 1];
        // The open lines in which some signer has frontier lanes. Most
        // unfinished keys have none at a given level; they cost only this
        // look at their signers' line bytes.
        line_mask reach = 0;
        for (const int32_t* s = signer; s != end && (reach & open) != open; ++s)
            reach |= in_lines[*s];
        reach &= open;
        if (reach == 0) {
            out_lines = 0;
            return;
        }
        const lane_set& sn = seen[c];
        lane_set gathered;
        for (unsigned m = reach; m != 0; m &= m - 1) {
            int first = LINE_WORDS * std::countr_zero(m);
            for (int w = first; w < first + LINE_WORDS; ++w)
                gathered.word[w] = 0;
        }
        // Signers are taken in groups: first the ones with frontier lanes in
        // the wanted lines are picked out without branching, then those
        // lines are read with no test in between, so the reads overlap in
        // the memory system. Lines that fill up are dropped from the reads.
        constexpr int GROUP = 32;
        int32_t picked[GROUP];
        line_mask picked_lines[GROUP];
        line_mask wanted = reach;
        while (signer != end) {
            int n = 0;
            for (const int32_t* group_end = signer + std::min<std::ptrdiff_t>(GROUP, end - signer);
                 signer != group_end; ++signer) {
                picked[n] = *signer;
                picked_lines[n] = in_lines[*signer] & wanted;
                n += picked_lines[n] != 0;
            }
            gather_lines(gathered, in, picked, picked_lines, n);
            lane_set covered;
            for (unsigned m = wanted; m != 0; m &= m - 1) {
                int first = LINE_WORDS * std::countr_zero(m);
                for (int w = first; w < first + LINE_WORDS; ++w)
                    covered.word[w] = gathered.word[w] | sn.word[w];
            }
            // cppcheck-suppress uninitvar ; full_lines reads only the wanted lines, all set above
            wanted &= static_cast<line_mask>(~full_lines(covered, wanted));
            if (wanted == 0) break;
        }
        // Only lines with new lanes are written and flagged.
        settled_lines settled = settle_lines(gathered, seen[c], reach);
        out_lines = settled.fresh;
        if (settled.fresh == 0) return;
        lane_set& next = frontier[level & 1][c];
        for (unsigned m = settled.fresh; m != 0; m &= m - 1) {
            int first = LINE_WORDS * std::countr_zero(m);
            for (int w = first; w < first + LINE_WORDS; ++w)
                next.word[w] = gathered.word[w];
        }
        note_fresh(c, next, settled, out, tally);
    }

    // One top-down step: the keys of the last frontier push their new lanes
    // to the keys they signed. Thread `self` handles only the keys of the
    // blocks it owns (all keys when not shared), so no key is written by two
    // threads; every thread reads the whole frontier. The next frontier
    // lane sets collect the pushed lanes, with frontier_lines marking the
    // lines collected so far; the keys reached are then settled, and those
    // that saw new lanes form this thread's part of the new frontier.
    void top_down_level(int32_t self, bool shared, std::vector<int32_t>& out, level_tally& tally) {
        const lane_set* in = frontier[(level - 1) & 1].data();
        const line_mask* in_lines = frontier_lines[(level - 1) & 1].data();
        lane_set* collected = frontier[level & 1].data();
        line_mask* collected_lines = frontier_lines[level & 1].data();
        const uint16_t* owner = block_owner.data();
        const auto me = static_cast<uint16_t>(self);
        for (const frontier_lists& part : lists) {
            for (int32_t c : part.keys[(level - 1) & 1]) {
                const line_mask lines = in_lines[c];
                const lane_set& from = in[c];
                const int32_t* target = graph.signed_keys.data() + graph.signed_start[c];
                const int32_t* end = graph.signed_keys.data() + graph.signed_start[c + 1];
                for (; target != end; ++target) {
                    int32_t w = *target;
                    if (shared && owner[w / OWNER_BLOCK] != me) continue;
                    auto add = static_cast<line_mask>(lines & open_lines[w]);
                    if (add == 0) continue;
                    line_mask have = collected_lines[w];
                    if (have == 0) out.push_back(w);
                    merge_lines(collected[w], from, add, have);
                    collected_lines[w] = have | add;
                }
            }
        }
        // The keys reached keep only the lanes they had not seen; those
        // left with none drop out of the frontier.
        const size_t reached = out.size();
        size_t kept = 0;
        for (size_t i = 0; i < reached; ++i) {
            int32_t w = out[i];
            settled_lines settled = settle_lines(collected[w], seen[w], collected_lines[w]);
            collected_lines[w] = settled.fresh;
            if (settled.fresh == 0) continue;
            // note_fresh appends w again; it is moved to its kept place.
            note_fresh(w, collected[w], settled, out, tally);
            out[kept++] = out.back();
            out.pop_back();
        }
        out.resize(kept);
    }

    // Chooses the step of the level about to start and clears what that
    // level will write. A bottom-up level reads every unfinished key's
    // signers (with their line bytes) and looks at every key; a top-down
    // level reads the frontier's signatures, and pushes lines along them.
    void begin_level() {
        switch (steps) {
        case level_steps::bottom_up_only:
            top_down = false;
            break;
        case level_steps::top_down_only:
            top_down = true;
            break;
        case level_steps::adaptive:
        case level_steps::word_searches_only:
        case level_steps::batches_then_words:
            top_down = frontier_edges * TOP_DOWN_COST < searched_count + open_in_edges;
            break;
        }
        // The lists of this parity hold the frontier of two levels back. A
        // bottom-up level rewrites every key's line byte; a top-down level
        // writes only the keys it reaches, so the old frontier is cleared.
        for (frontier_lists& part : lists) {
            std::vector<int32_t>& old = part.keys[level & 1];
            if (top_down)
                for (int32_t c : old)
                    frontier_lines[level & 1][c] = 0;
            old.clear();
        }
    }

    // Whether this batch will cost more than its budget: it already has,
    // or, once it has used a fair share of the budget and gone
    // PROJECT_FROM_LEVEL levels deep, the time so far scaled to all the
    // batch's (member, key) distances exceeds it. On deep graphs a batch
    // finds distances at a steady rate and the projection leaves it early;
    // on wide ones the distances found grow manyfold from level to level
    // over the first few levels, when no projection holds, and the batch
    // ends long before that depth.
    bool over_budget() const {
        const double spent = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - batch_started;
        if (spent > budget) return true;
        if (spent < budget * PROJECT_AFTER || level < PROJECT_FROM_LEVEL) return false;
        const double all_pairs = static_cast<double>(lane_count) * searched_count;
        return spent * all_pairs > budget * static_cast<double>(found_pairs);
    }

    void end_phase(const level_tally& t) {
        frontier_keys = t.frontier_keys;
        frontier_edges = t.frontier_edges;
        open_in_edges -= t.finished_in_edges;
        found_pairs += t.found_pairs;
    }

    // The step between two phases, run by one thread while the others wait.
    // Top-down levels with a small frontier are run here too, one after
    // another, as waking the other threads would cost more than the level.
    void next_phase() {
        end_phase({tally_keys.exchange(0, std::memory_order_relaxed),
                   tally_edges.exchange(0, std::memory_order_relaxed),
                   tally_finished.exchange(0, std::memory_order_relaxed),
                   tally_pairs.exchange(0, std::memory_order_relaxed)});
        for (;;) {
            if (phase == search_phase::reset) {
                phase = search_phase::level;
                level = 1;
            } else if (frontier_keys > 0 && over_budget()) {
                // The rest of this batch and the batches after it go to
                // word-wide searches, which take the pairs farther
                // than this level.
                abandoned_level = level;
                phase = search_phase::done;
                break;
            } else if (frontier_keys > 0) {
                ++level;
            } else {
                progress_advance(lane_count);
                if (batch + 1 < batch_count)
                    start_batch(batch + 1);
                else
                    phase = search_phase::done;
                break;
            }
            begin_level();
            if (!top_down || frontier_edges > SERIAL_EDGES) break;
            level_tally t;
            top_down_level(0, false, lists[0].keys[level & 1], t);
            end_phase(t);
        }
        next_chunk.store(0, std::memory_order_relaxed);
    }

    void work_phase(int32_t self) {
        level_tally tally;
        std::vector<int32_t>& out = lists[static_cast<size_t>(self)].keys[level & 1];
        if (phase == search_phase::level && top_down) {
            top_down_level(self, workers > 1, out, tally);
        } else {
            for (;;) {
                int32_t start = next_chunk.fetch_add(CHUNK, std::memory_order_relaxed);
                if (start >= searched_count) break;
                int32_t end = std::min(start + CHUNK, searched_count);
                if (phase == search_phase::reset) {
                    for (int32_t c = start; c < end; ++c)
                        reset_key(c, out, tally);
                } else {
                    for (int32_t c = start; c < end; ++c)
                        bottom_up_key(c, out, tally);
                }
            }
        }
        tally_keys.fetch_add(tally.frontier_keys, std::memory_order_relaxed);
        tally_edges.fetch_add(tally.frontier_edges, std::memory_order_relaxed);
        tally_finished.fetch_add(tally.finished_in_edges, std::memory_order_relaxed);
        tally_pairs.fetch_add(tally.found_pairs, std::memory_order_relaxed);
    }
};

} // namespace

// Runs the batches over members[0, lane_members) on the given threads with
// the given budget per batch (processor seconds per member). Returns the level
// at which a batch was left, or -1, and the batch in abandoned_batch.
int32_t run_batches(const search_graph& graph, int32_t lane_members, int threads, level_steps steps,
                    double seconds_per_member, source_results& results, int32_t& abandoned_batch) {
    batch_search search(graph, steps, threads, lane_members, results.stats, results.runs);
    abandoned_batch = -1;
    if (search.batch_count == 0 || search.searched_count == 0) return -1;
    search.seconds_per_member = seconds_per_member;
    search.start_batch(0);
    auto completion = [&search]() noexcept {
        try {
            search.next_phase();
        } catch (const std::bad_alloc&) {
            exit_out_of_memory();
        }
    };
    std::barrier sync(threads, completion);
    auto worker = [&search, &sync](int32_t self) {
        try {
            while (search.phase != search_phase::done) {
                search.work_phase(self);
                sync.arrive_and_wait();
            }
        } catch (const std::bad_alloc&) {
            exit_out_of_memory(); // the other threads wait for this one at the barrier
        }
    };
    std::vector<std::thread> helpers;
    // Reserved first, so that no allocation can fail while threads run.
    helpers.reserve(static_cast<size_t>(threads));
    const int running = start_helper_threads(helpers, threads, worker, refusal_line::unended);
    // Every key is still analysed, by the threads that did start: the places
    // at the barrier of those that did not are given up.
    for (int t = running; t < threads; ++t)
        sync.arrive_and_drop();
    // The helpers are in the reset phase, which does not look at the
    // owners; the first level starts only after this thread's arrival.
    search.set_workers(running);
    worker(0);
    join_helper_threads(helpers);
    if (search.abandoned_level >= 0) abandoned_batch = search.batch;
    return search.abandoned_level;
}
