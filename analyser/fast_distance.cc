// Fast distance analysis: multi-source bit-parallel breadth-first search.
//
// Every reachable key needs its distances from every strong-set member. One
// search per key costs a walk over the whole graph per key. Instead the
// searches run from the members' side, along signs, many at once: a batch of
// LANES members gets one bit each (a lane), and every key holds a lane set
// per search state (seen, frontier). One pass over the graph advances all
// searches of the batch by one level, so a key's signature lists are read
// once per level for the whole batch instead of once per search. This is the
// multi-source BFS of Then et al., "The More the Merrier: Efficient
// Multi-Source Graph Traversal", VLDB 2014.
//
// Each level is stepped one of two ways, chosen per level (the direction-
// optimising BFS of Beamer et al., "Direction-Optimizing Breadth-First
// Search", SC 2012). Bottom-up: every key whose lanes are not all seen ORs
// the frontiers of its signers, stopping early once the remaining lanes are
// covered; this suits wide frontiers, but it looks at every key, which on a
// deep graph (a long cycle has as many levels as keys) makes a batch cost
// levels times keys. Top-down: only the keys of the last frontier, kept in
// lists, push their non-empty frontier lines along their signatures to the
// unfinished keys they signed. A level goes top-down when its frontier's
// signatures (times TOP_DOWN_COST) are fewer than the keys plus the
// signatures into unfinished keys, which is what a bottom-up level looks
// at. Every member reaches every reachable key, so each key ends with all
// lanes seen; a key that has them all drops out of later levels.
// The bits a key gains at level d are members at exactly d hops:
// popcount(new) goes into hop_counts[min(d, HOP_LIMIT)] and d * popcount into
// distance_total, so there is no per-pair work. The level at which a key
// gains its last lanes is the batch's greatest distance to it, and those
// lanes are the batch's farthest members; across batches a larger distance
// replaces the list and an equal one extends it, and each list is sorted
// into ascending key index at the end.
//
// The work is memory-bound: a batch of 4096 lanes makes each lane set 512
// bytes, read at random. So lane sets are handled in lines of 512 lanes (a
// cache line each) with a byte per key telling which frontier lines hold
// lanes and which of its own lines are still open; only lines that can add
// something are read. Members get their lanes in breadth-first order, so a
// line's members lie near each other in the graph and reach a key at
// similar levels. The lane arrays ask for huge pages.
//
// Keys outside the strong set whose only signer (other than themselves) is
// one key s are exactly one hop behind s for every member. Where such a key
// signs no key that still needs searching, it is left out of the search and
// inherits s's statistics shifted by one hop afterwards; chains and trees of
// such keys are resolved parents first.
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
//
// Memory: three lane sets (seen and two frontier levels, 1.5 KB in all) and
// three line bytes per searched key, the statistics, the searched graph in
// both directions, and the frontier lists of two levels (at most two key
// numbers per searched key in all); nothing grows with the product of
// members and keys, and each thread adds only its stack.
#include "fast_distance.h"

#include "start_threads.h"
#include "worker_threads.h"

#include "progress.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <bit>
#include <cstdio>
#include <new>
#include <sys/mman.h>
#include <thread>

// Hot routines are built for several processor kinds and the right one is
// chosen when the program is loaded. Sanitizer builds skip this: their
// runtime is not ready yet when the choice is made.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define for_each_processor(...)
#else
#define for_each_processor(...) __attribute__((target_clones(__VA_ARGS__)))
#endif

namespace {

constexpr int LANE_WORDS = 64;
constexpr int LANES = 64 * LANE_WORDS;
// Lane sets are read and written in lines of 512 lanes (one cache line); a
// byte per key says which lines matter, so untouched lines are not read.
constexpr int LINE_WORDS = 8;
constexpr int LINES = LANE_WORDS / LINE_WORDS;
using line_mask = uint8_t;
static_assert(LINES <= 8, "line masks are bytes");
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

struct alignas(64) lane_set {
    uint64_t word[LANE_WORDS];
};

// What settle_lines found in the lines it was given.
struct settled_lines {
    line_mask fresh = 0;  // lines with lanes not seen before
    line_mask filled = 0; // lines that now have every lane seen
    int32_t count = 0;    // the number of such lanes
};

// Keeps in the given lines of lanes only those not in seen and adds them to
// seen, in one pass, so that nothing just stored is read back. Built for
// processors with and without a population-count instruction; the right one
// is chosen at load time.
for_each_processor("popcnt", "default") settled_lines
    settle_lines(lane_set& lanes, lane_set& seen, line_mask lines) {
    settled_lines result;
    for (unsigned m = lines; m != 0; m &= m - 1) {
        int l = std::countr_zero(m);
        uint64_t any = 0;
        uint64_t all = ~uint64_t{0};
        for (int w = LINE_WORDS * l; w < LINE_WORDS * (l + 1); ++w) {
            uint64_t fresh = lanes.word[w] & ~seen.word[w];
            uint64_t now = seen.word[w] | fresh;
            lanes.word[w] = fresh;
            seen.word[w] = now;
            any |= fresh;
            all &= now;
            result.count += std::popcount(fresh);
        }
        if (any != 0) result.fresh |= static_cast<line_mask>(1u << l);
        if (all == ~uint64_t{0}) result.filled |= static_cast<line_mask>(1u << l);
    }
    return result;
}

// ORs the lines lines[j] of the lane sets in[picked[j]] into into; also
// built for wider vector units where the processor has them.
for_each_processor("avx2", "default") void gather_lines(lane_set& into, const lane_set* in,
                                                        const int32_t* picked,
                                                        const line_mask* lines, int n) {
    // Ask for the lines a few signers ahead while this one is combined.
    constexpr int AHEAD = 8;
    for (int j = 0; j < std::min(n, AHEAD); ++j)
        for (unsigned m = lines[j]; m != 0; m &= m - 1)
            __builtin_prefetch(
                &in[picked[j]].word[std::ptrdiff_t{LINE_WORDS} * std::countr_zero(m)]);
    for (int j = 0; j < n; ++j) {
        if (j + AHEAD < n)
            for (unsigned m = lines[j + AHEAD]; m != 0; m &= m - 1)
                __builtin_prefetch(
                    &in[picked[j + AHEAD]].word[std::ptrdiff_t{LINE_WORDS} * std::countr_zero(m)]);
        const lane_set& f = in[picked[j]];
        for (unsigned m = lines[j]; m != 0; m &= m - 1) {
            int first = LINE_WORDS * std::countr_zero(m);
            for (int w = first; w < first + LINE_WORDS; ++w)
                into.word[w] |= f.word[w];
        }
    }
}

// ORs the lines add of from into into; of those, the lines not in have are
// copied instead, as into holds no lanes there yet.
inline void merge_lines(lane_set& into, const lane_set& from, line_mask add, line_mask have) {
    for (unsigned m = add; m != 0; m &= m - 1) {
        int l = std::countr_zero(m);
        int first = LINE_WORDS * l;
        if (have & (1u << l)) {
            for (int w = first; w < first + LINE_WORDS; ++w)
                into.word[w] |= from.word[w];
        } else {
            for (int w = first; w < first + LINE_WORDS; ++w)
                into.word[w] = from.word[w];
        }
    }
}

// The lines of a that have every lane set, among the lines in which.
inline line_mask full_lines(const lane_set& a, line_mask which) {
    line_mask full = 0;
    for (unsigned m = which; m != 0; m &= m - 1) {
        int l = std::countr_zero(m);
        uint64_t all = ~uint64_t{0};
        for (int w = LINE_WORDS * l; w < LINE_WORDS * (l + 1); ++w)
            all &= a.word[w];
        if (all == ~uint64_t{0}) full |= static_cast<line_mask>(1u << l);
    }
    return full;
}

// A zero-filled array of lane sets in its own mapping. The searches read
// these at random, so they ask for huge pages where the system offers them,
// which saves most address-translation misses.
class lane_array {
  public:
    explicit lane_array(size_t count) : bytes_(std::max<size_t>(count, 1) * sizeof(lane_set)) {
        // cppcheck-suppress invalidFunctionArg ; -1 is the descriptor anonymous mappings require
        void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        // Only a hint: without huge pages the array works the same.
        (void)madvise(p, bytes_, MADV_HUGEPAGE);
        data_ = static_cast<lane_set*>(p);
    }
    lane_array(const lane_array&) = delete;
    lane_array& operator=(const lane_array&) = delete;
    ~lane_array() {
        // Unmapping a mapping made above cannot fail in a way worth handling.
        (void)munmap(data_, bytes_);
    }
    lane_set& operator[](size_t i) { return data_[i]; }
    const lane_set& operator[](size_t i) const { return data_[i]; }
    lane_set* data() { return data_; }

  private:
    size_t bytes_;
    lane_set* data_;
};

// The keys the searches have to visit ("searched keys"), numbered densely,
// with their signers among them, deduplicated and without self-signatures.
struct search_graph {
    std::vector<int32_t> entry_of;     // searched key -> index into the distance table
    std::vector<int64_t> signer_start; // size + 1 offsets into signers
    std::vector<int32_t> signers;      // searched-key numbers
    std::vector<int64_t> signed_start; // size + 1 offsets into signed_keys
    std::vector<int32_t> signed_keys;  // keys each key signed, searched-key numbers
    std::vector<int32_t> members;      // searched-key numbers, ascending key index
    std::vector<int32_t> member_rank;  // position in members, or -1
    std::vector<int32_t> member_keys;  // key index of each of members
};

// A key left out of the search, with the table entry it inherits from.
struct inherited_key {
    int32_t entry;
    int32_t parent_entry;
};

// Splits the reachable keys into searched keys and inheriting keys. The
// inheriting keys come out parents first.
void partition_keys(const key_graph& g, const set_results& s, const distance_table& table,
                    search_graph& search, std::vector<inherited_key>& inherited) {
    const auto reachable_count = static_cast<int32_t>(table.keys.size());
    std::vector<int32_t> entry_of_key(static_cast<size_t>(g.key_count), -1);
    for (int32_t i = 0; i < reachable_count; ++i)
        entry_of_key[table.keys[i]] = i;

    // parent[i]: the table entry of the one distinct signer of a non-member,
    // or -1. Signers outside the reachable set cannot lie on any chain from
    // a member, so they do not count.
    std::vector<int32_t> parent(static_cast<size_t>(reachable_count), -1);
    std::vector<int32_t> child_count(static_cast<size_t>(reachable_count) + 1, 0);
    for (int32_t i = 0; i < reachable_count; ++i) {
        int32_t k = table.keys[i];
        if (in_strong_set(s, k)) continue;
        int32_t only = -1;
        bool single = true;
        for (int32_t w : signed_by(g, k)) {
            if (w == k || !s.reachable[w]) continue;
            if (only < 0) {
                only = w;
            } else if (w != only) {
                single = false;
                break;
            }
        }
        if (single && only >= 0) {
            parent[i] = entry_of_key[only];
            ++child_count[parent[i]];
        }
    }
    // Children of each entry in compressed form, then an order in which
    // every single-signer key comes after its signer.
    std::vector<int32_t> child_start(static_cast<size_t>(reachable_count) + 1, 0);
    for (int32_t i = 0; i < reachable_count; ++i)
        child_start[i + 1] = child_start[i] + child_count[i];
    std::vector<int32_t> children(static_cast<size_t>(child_start[reachable_count]));
    std::vector<int32_t> fill(child_start.begin(), child_start.end() - 1);
    for (int32_t i = 0; i < reachable_count; ++i)
        if (parent[i] >= 0) children[fill[parent[i]]++] = i;
    std::vector<int32_t> order;
    order.reserve(children.size());
    for (int32_t i = 0; i < reachable_count; ++i)
        if (parent[i] < 0)
            order.insert(order.end(), children.begin() + child_start[i],
                         children.begin() + child_start[i + 1]);
    for (size_t head = 0; head < order.size(); ++head) {
        int32_t i = order[head];
        order.insert(order.end(), children.begin() + child_start[i],
                     children.begin() + child_start[i + 1]);
    }
    // A single-signer key may be left out of the search only if every key it
    // signs is left out too; children come later in the order, so walking it
    // backwards settles them first.
    std::vector<uint8_t> left_out(static_cast<size_t>(reachable_count), 0);
    for (size_t j = order.size(); j-- > 0;) {
        int32_t i = order[j];
        int32_t k = table.keys[i];
        bool all_left_out = true;
        for (int32_t w : signs(g, k)) {
            if (w == k || !s.reachable[w]) continue;
            if (!left_out[entry_of_key[w]]) {
                all_left_out = false;
                break;
            }
        }
        left_out[i] = all_left_out;
    }
    inherited.clear();
    for (int32_t i : order)
        if (left_out[i]) inherited.push_back({i, parent[i]});

    // Searched keys are numbered by how many keys they sign, most first:
    // the frontiers read most often then share a few cache lines, and a
    // key's signers are read busiest first, which lets the gathering stop
    // sooner.
    std::vector<int32_t> signed_count(static_cast<size_t>(reachable_count), 0);
    search.entry_of.clear();
    for (int32_t i = 0; i < reachable_count; ++i) {
        if (left_out[i]) continue;
        search.entry_of.push_back(i);
        int32_t k = table.keys[i];
        for (int32_t w : signs(g, k))
            if (w != k && s.reachable[w]) ++signed_count[i];
    }
    std::stable_sort(search.entry_of.begin(), search.entry_of.end(),
                     [&](int32_t a, int32_t b) { return signed_count[a] > signed_count[b]; });
    const auto searched_count = static_cast<int32_t>(search.entry_of.size());
    std::vector<int32_t> searched_of_entry(static_cast<size_t>(reachable_count), -1);
    for (int32_t c = 0; c < searched_count; ++c)
        searched_of_entry[search.entry_of[c]] = c;

    search.signer_start.assign(static_cast<size_t>(searched_count) + 1, 0);
    search.signers.clear();
    for (int32_t c = 0; c < searched_count; ++c) {
        int32_t k = table.keys[search.entry_of[c]];
        auto first = static_cast<std::ptrdiff_t>(search.signers.size());
        for (int32_t w : signed_by(g, k)) {
            if (w == k || !s.reachable[w]) continue;
            // A left-out key signs only left-out keys, so every signer of a
            // searched key is searched.
            search.signers.push_back(searched_of_entry[entry_of_key[w]]);
        }
        std::sort(search.signers.begin() + first, search.signers.end());
        search.signers.erase(std::unique(search.signers.begin() + first, search.signers.end()),
                             search.signers.end());
        search.signer_start[c + 1] = static_cast<int64_t>(search.signers.size());
    }
    // The same signatures from the signer's side, each key's list ascending.
    search.signed_start.assign(static_cast<size_t>(searched_count) + 1, 0);
    for (int32_t w : search.signers)
        ++search.signed_start[w + 1];
    for (int32_t c = 0; c < searched_count; ++c)
        search.signed_start[c + 1] += search.signed_start[c];
    search.signed_keys.resize(search.signers.size());
    std::vector<int64_t> next_slot(search.signed_start.begin(), search.signed_start.end() - 1);
    for (int32_t c = 0; c < searched_count; ++c)
        for (int64_t i = search.signer_start[c]; i < search.signer_start[c + 1]; ++i)
            search.signed_keys[next_slot[search.signers[i]]++] = c;
    // Lane order: members in breadth-first order over signatures in both
    // directions, from the busiest member. Members near each other have
    // similar distances to every key, so a line of 512 lanes tends to be
    // reached within a few levels and to fill up early, and then it is no
    // longer read. The farthest lists are sorted at the end.
    search.members.clear();
    search.member_keys.clear();
    search.member_rank.assign(static_cast<size_t>(searched_count), -1);
    auto add_member = [&](int32_t k) {
        int32_t c = searched_of_entry[entry_of_key[k]];
        search.member_rank[c] = static_cast<int32_t>(search.members.size());
        search.members.push_back(c);
        search.member_keys.push_back(k);
    };
    for (int32_t c = 0; c < searched_count && search.members.empty(); ++c)
        if (in_strong_set(s, table.keys[search.entry_of[c]]))
            add_member(table.keys[search.entry_of[c]]);
    for (size_t head = 0; head < search.member_keys.size(); ++head) {
        int32_t k = search.member_keys[head];
        for (auto neighbours : {signed_by(g, k), signs(g, k)})
            for (int32_t w : neighbours)
                if (in_strong_set(s, w) &&
                    search.member_rank[searched_of_entry[entry_of_key[w]]] < 0)
                    add_member(w);
    }
    // Members are strongly connected, so the search found them all; any
    // left over (not expected) still get lanes.
    for (int32_t i = 0; i < reachable_count; ++i)
        if (!left_out[i] && in_strong_set(s, table.keys[i]) &&
            search.member_rank[searched_of_entry[i]] < 0)
            add_member(table.keys[i]);
}

// The statistics of a key whose only signer has the statistics p.
void inherit_shifted(const key_stats& p, int32_t member_count, key_stats& out) {
    out.distance_total = p.distance_total + member_count;
    out.hop_counts[0] = 0;
    for (int h = 1; h < HOP_LIMIT; ++h)
        out.hop_counts[h] = p.hop_counts[h - 1];
    out.hop_counts[HOP_LIMIT] = p.hop_counts[HOP_LIMIT - 1] + p.hop_counts[HOP_LIMIT];
    out.max_hops = p.max_hops + 1;
    out.farthest_keys = p.farthest_keys;
}

enum class search_phase { reset, level, done };

// What one thread's share of a phase produced, summed over all threads
// between phases to choose how the next level is stepped.
struct level_tally {
    int64_t frontier_keys = 0;     // keys that saw new lanes
    int64_t frontier_edges = 0;    // the signatures those keys made
    int64_t finished_in_edges = 0; // the signatures into keys that became complete
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
    int32_t batch_count = 0;

    // The statistics of each searched key, gathered over all batches.
    std::vector<key_stats> stats;
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

    std::atomic<int32_t> next_chunk{0};
    std::atomic<int64_t> tally_keys{0};
    std::atomic<int64_t> tally_edges{0};
    std::atomic<int64_t> tally_finished{0};

    batch_search(const search_graph& g, level_steps how, int threads)
        : graph(g), steps(how), searched_count(static_cast<int32_t>(g.entry_of.size())),
          batch_count((static_cast<int32_t>(g.members.size()) + LANES - 1) / LANES),
          stats(g.entry_of.size()),
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
        lane_count =
            std::min<int32_t>(LANES, static_cast<int32_t>(graph.members.size()) - first_member);
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
        phase = search_phase::reset;
        level = 0;
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
            st.farthest_keys.clear();
        }
        if (d != st.max_hops) return;
        for (unsigned m = lines; m != 0; m &= m - 1) {
            int first = LINE_WORDS * std::countr_zero(m);
            for (int w = first; w < first + LINE_WORDS; ++w) {
                for (uint64_t bits = fresh.word[w]; bits != 0; bits &= bits - 1) {
                    int32_t lane = 64 * w + std::countr_zero(bits);
                    st.farthest_keys.push_back(graph.member_keys[first_member + lane]);
                }
            }
        }
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
    void advance_key(int32_t c, std::vector<int32_t>& out, level_tally& tally) {
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
    void push_level(int32_t self, bool shared, std::vector<int32_t>& out, level_tally& tally) {
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

    void end_phase(const level_tally& t) {
        frontier_keys = t.frontier_keys;
        frontier_edges = t.frontier_edges;
        open_in_edges -= t.finished_in_edges;
    }

    // The step between two phases, run by one thread while the others wait.
    // Top-down levels with a small frontier are run here too, one after
    // another, as waking the other threads would cost more than the level.
    void next_phase() {
        end_phase({tally_keys.exchange(0, std::memory_order_relaxed),
                   tally_edges.exchange(0, std::memory_order_relaxed),
                   tally_finished.exchange(0, std::memory_order_relaxed)});
        for (;;) {
            if (phase == search_phase::reset) {
                phase = search_phase::level;
                level = 1;
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
            push_level(0, false, lists[0].keys[level & 1], t);
            end_phase(t);
        }
        next_chunk.store(0, std::memory_order_relaxed);
    }

    void work_phase(int32_t self) {
        level_tally tally;
        std::vector<int32_t>& out = lists[static_cast<size_t>(self)].keys[level & 1];
        if (phase == search_phase::level && top_down) {
            push_level(self, workers > 1, out, tally);
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
                        advance_key(c, out, tally);
                }
            }
        }
        tally_keys.fetch_add(tally.frontier_keys, std::memory_order_relaxed);
        tally_edges.fetch_add(tally.frontier_edges, std::memory_order_relaxed);
        tally_finished.fetch_add(tally.finished_in_edges, std::memory_order_relaxed);
    }
};

void run_searches(const search_graph& graph, distance_table& table, int threads,
                  level_steps steps) {
    batch_search search(graph, steps, threads);
    if (search.batch_count == 0 || search.searched_count == 0) return;
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
    const int running = start_helper_threads(helpers, threads, worker);
    // Every key is still analysed, by the threads that did start: the places
    // at the barrier of those that did not are given up.
    for (int t = running; t < threads; ++t)
        sync.arrive_and_drop();
    // The helpers are in the reset phase, which does not look at the
    // owners; the first level starts only after this thread's arrival.
    search.set_workers(running);
    worker(0);
    join_helper_threads(helpers);
    for (int32_t c = 0; c < search.searched_count; ++c) {
        key_stats& st = table.stats[graph.entry_of[c]];
        st = std::move(search.stats[c]);
        std::sort(st.farthest_keys.begin(), st.farthest_keys.end());
    }
}

} // namespace

distance_table fast_analysis(const key_graph& g, const set_results& s, int threads,
                             level_steps steps) {
    distance_table table;
    for (int32_t k = 0; k < g.key_count; ++k)
        if (s.reachable[k]) table.keys.push_back(k);
    table.stats.resize(table.keys.size());
    if (table.keys.empty()) return table;
    threads = std::max(threads, 1);

    search_graph graph;
    std::vector<inherited_key> inherited;
    partition_keys(g, s, table, graph, inherited);

    progress_begin("analysis", static_cast<int64_t>(graph.members.size()), "members");
    run_searches(graph, table, threads, steps);
    progress_end();

    // Every member is one hop farther from an inheriting key than from its
    // signer.
    auto members = static_cast<int32_t>(graph.members.size());
    for (const inherited_key& key : inherited)
        inherit_shifted(table.stats[key.parent_entry], members, table.stats[key.entry]);
    return table;
}
