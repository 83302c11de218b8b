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
// Each level is computed bottom-up: every key whose lanes are not all seen
// ORs the frontiers of its signers, stopping early once the remaining lanes
// are covered. Every member reaches every reachable key, so each key ends
// with all lanes seen; a key that has them all drops out of later levels.
// The bits a key gains at level d are members at exactly d hops:
// popcount(new) goes into hop_counts[min(d, HOP_LIMIT)] and d * popcount into
// distance_total, so there is no per-pair work. The level at which a key
// gains its last lanes is the batch's greatest distance to it, and those
// lanes are the batch's farthest members; batches run in ascending member
// order, so the farthest lists end in ascending key index.
//
// Keys outside the strong set whose only signer (other than themselves) is
// one key s are exactly one hop behind s for every member. Where such a key
// signs no key that still needs searching, it is left out of the search and
// inherits s's statistics shifted by one hop afterwards; chains and trees of
// such keys are resolved parents first.
//
// Threads: all threads work on the same batch and the same level, each on
// chunks of keys. A key's search state and statistics are written only by
// the thread that handles the key in that level, and levels are separated
// by a barrier, so the results do not depend on the number of threads or on
// which thread handled which key.
//
// Memory: three lane sets per searched key (seen and two frontier levels),
// one flag per searched key, and the statistics table; nothing grows
// with the product of members and keys.
#include "fast_distance.h"

#include "progress.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <bit>
#include <cstdio>
#include <system_error>
#include <thread>

namespace {

constexpr int LANE_WORDS = 8;
constexpr int LANES = 64 * LANE_WORDS;
constexpr int32_t CHUNK = 512;

struct alignas(64) lane_set {
    uint64_t word[LANE_WORDS];
};

inline void clear(lane_set& a) {
    for (uint64_t& w : a.word)
        w = 0;
}

inline bool is_full(const lane_set& a) {
    uint64_t all = ~uint64_t{0};
    for (uint64_t w : a.word)
        all &= w;
    return all == ~uint64_t{0};
}

// The keys the searches have to visit ("searched keys"), numbered densely,
// with their signers among them, deduplicated and without self-signatures.
struct search_graph {
    std::vector<int32_t> entry_of;     // searched key -> index into the distance table
    std::vector<int64_t> signer_start; // size + 1 offsets into signers
    std::vector<int32_t> signers;      // searched-key numbers
    std::vector<int32_t> members;      // searched-key numbers, ascending key index
    std::vector<int32_t> member_rank;  // position in members, or -1
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

    std::vector<int32_t> searched_of_entry(static_cast<size_t>(reachable_count), -1);
    search.entry_of.clear();
    for (int32_t i = 0; i < reachable_count; ++i) {
        if (left_out[i]) continue;
        searched_of_entry[i] = static_cast<int32_t>(search.entry_of.size());
        search.entry_of.push_back(i);
    }
    const auto searched_count = static_cast<int32_t>(search.entry_of.size());
    search.signer_start.assign(static_cast<size_t>(searched_count) + 1, 0);
    search.signers.clear();
    search.members.clear();
    search.member_rank.assign(static_cast<size_t>(searched_count), -1);
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
        if (in_strong_set(s, k)) {
            search.member_rank[c] = static_cast<int32_t>(search.members.size());
            search.members.push_back(c);
        }
    }
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

// The shared state of the searches of one batch of members.
struct batch_search {
    const search_graph& graph;
    distance_table& table;
    int32_t searched_count = 0;
    int32_t batch_count = 0;

    std::vector<lane_set> seen;
    std::vector<lane_set> frontier[2]; // frontier[d & 1]: lanes first reached at level d
    std::vector<uint8_t> complete;     // 1 once a key has seen every lane

    // Changed only between phases (by the barrier's completion step).
    search_phase phase = search_phase::reset;
    int32_t batch = 0;
    int32_t level = 0;
    int32_t first_member = 0; // members[first_member] is lane 0
    int32_t lane_count = 0;
    lane_set unused_lanes{};

    std::atomic<int32_t> next_chunk{0};
    std::atomic<bool> any_new{false};

    batch_search(const search_graph& g, distance_table& t) : graph(g), table(t) {
        searched_count = static_cast<int32_t>(g.entry_of.size());
        auto members = static_cast<int32_t>(g.members.size());
        batch_count = (members + LANES - 1) / LANES;
        seen.resize(static_cast<size_t>(searched_count));
        frontier[0].resize(static_cast<size_t>(searched_count));
        frontier[1].resize(static_cast<size_t>(searched_count));
        complete.resize(static_cast<size_t>(searched_count));
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
        phase = search_phase::reset;
        level = 0;
    }

    // Records that key c sees the lanes in fresh at distance d.
    void record(int32_t c, int32_t d, const lane_set& fresh, bool complete) {
        key_stats& st = table.stats[graph.entry_of[c]];
        int32_t count = 0;
        for (uint64_t w : fresh.word)
            count += std::popcount(w);
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
        for (int w = 0; w < LANE_WORDS; ++w) {
            for (uint64_t bits = fresh.word[w]; bits != 0; bits &= bits - 1) {
                int32_t lane = 64 * w + std::countr_zero(bits);
                int32_t member = graph.members[first_member + lane];
                st.farthest_keys.push_back(table.keys[graph.entry_of[member]]);
            }
        }
    }

    void reset_key(int32_t c) {
        lane_set& sn = seen[c];
        sn = unused_lanes;
        lane_set& f0 = frontier[0][c];
        clear(f0);
        clear(frontier[1][c]);
        complete[c] = 0;
        int32_t lane = graph.member_rank[c] - first_member;
        if (graph.member_rank[c] >= 0 && lane >= 0 && lane < lane_count) {
            f0.word[lane / 64] = uint64_t{1} << (lane % 64);
            sn.word[lane / 64] |= f0.word[lane / 64];
            complete[c] = is_full(sn);
            record(c, 0, f0, complete[c]);
        }
    }

    // One bottom-up step for key c; returns whether it saw new lanes.
    bool advance_key(int32_t c) {
        // A key with every lane seen is left alone. Its frontier entries then
        // keep lanes from earlier levels, which is harmless: every key it
        // signs took those lanes in already when they were new (a signed
        // key stops reading its signers early only once it has all lanes).
        if (complete[c]) return false;
        lane_set& out = frontier[level & 1][c];
        const std::vector<lane_set>& in = frontier[(level - 1) & 1];
        const lane_set sn = seen[c];
        lane_set gathered{};
        const int32_t* signer = graph.signers.data() + graph.signer_start[c];
        const int32_t* end = graph.signers.data() + graph.signer_start[c + 1];
        for (; signer != end; ++signer) {
            const lane_set& f = in[*signer];
            uint64_t all = ~uint64_t{0};
            for (int w = 0; w < LANE_WORDS; ++w) {
                gathered.word[w] |= f.word[w];
                all &= gathered.word[w] | sn.word[w];
            }
            if (all == ~uint64_t{0}) break;
        }
        uint64_t any = 0;
        for (int w = 0; w < LANE_WORDS; ++w) {
            out.word[w] = gathered.word[w] & ~sn.word[w];
            any |= out.word[w];
        }
        if (any == 0) return false;
        lane_set& seen_now = seen[c];
        for (int w = 0; w < LANE_WORDS; ++w)
            seen_now.word[w] |= out.word[w];
        complete[c] = is_full(seen_now);
        record(c, level, out, complete[c]);
        return true;
    }

    // The step between two phases, run by one thread while the others wait.
    void next_phase() noexcept {
        if (phase == search_phase::reset) {
            phase = search_phase::level;
            level = 1;
        } else if (any_new.load(std::memory_order_relaxed)) {
            ++level;
        } else {
            progress_advance(lane_count);
            if (batch + 1 < batch_count)
                start_batch(batch + 1);
            else
                phase = search_phase::done;
        }
        any_new.store(false, std::memory_order_relaxed);
        next_chunk.store(0, std::memory_order_relaxed);
    }

    void work_phase() {
        bool saw_new = false;
        for (;;) {
            int32_t start = next_chunk.fetch_add(CHUNK, std::memory_order_relaxed);
            if (start >= searched_count) break;
            int32_t end = std::min(start + CHUNK, searched_count);
            if (phase == search_phase::reset) {
                for (int32_t c = start; c < end; ++c)
                    reset_key(c);
            } else {
                for (int32_t c = start; c < end; ++c)
                    saw_new |= advance_key(c);
            }
        }
        if (saw_new) any_new.store(true, std::memory_order_relaxed);
    }
};

void run_searches(const search_graph& graph, distance_table& table, int threads) {
    batch_search search(graph, table);
    if (search.batch_count == 0 || search.searched_count == 0) return;
    search.start_batch(0);
    auto completion = [&search]() noexcept { search.next_phase(); };
    std::barrier sync(threads, completion);
    auto worker = [&search, &sync] {
        while (search.phase != search_phase::done) {
            search.work_phase();
            sync.arrive_and_wait();
        }
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(worker);
        } catch (const std::system_error&) {
            // Every key is still analysed, by the threads that did start:
            // the missing thread's place at the barrier is given up.
            std::fprintf(stderr, "Cannot create thread %d.", t);
            sync.arrive_and_drop();
        }
    }
    worker();
    for (std::thread& h : helpers)
        h.join();
}

} // namespace

distance_table fast_analysis(const key_graph& g, const set_results& s, int threads) {
    distance_table table;
    for (int32_t k = 0; k < g.key_count; ++k)
        if (s.reachable[k]) table.keys.push_back(k);
    table.stats.resize(table.keys.size());
    if (table.keys.empty()) return table;
    threads = std::max(threads, 1);

    search_graph graph;
    std::vector<inherited_key> inherited;
    partition_keys(g, s, table, graph, inherited);

    progress_begin("analysis", static_cast<int64_t>(graph.members.size()));
    run_searches(graph, table, threads);
    progress_end();

    // Every member is one hop farther from an inheriting key than from its
    // signer.
    auto members = static_cast<int32_t>(graph.members.size());
    for (const inherited_key& key : inherited)
        inherit_shifted(table.stats[key.parent_entry], members, table.stats[key.entry]);
    return table;
}
