#include "plain_distance.h"

#include <algorithm>
#include <atomic>

#include "worker_threads.h"

void distances_from(const key_graph& g, int32_t start, distance_scratch& scratch) {
    std::vector<int32_t>& distance = scratch.distance;
    std::vector<int32_t>& queue = scratch.search_queue;
    distance.assign(static_cast<size_t>(g.key_count), NO_DISTANCE);
    queue.resize(static_cast<size_t>(g.key_count));
    size_t head = 0;
    size_t tail = 0;
    queue[tail++] = start;
    distance[start] = 0;
    while (head < tail) {
        int32_t v = queue[head++];
        int32_t d = distance[v];
        for (int32_t w : signed_by(g, v)) {
            if (d + 1 < distance[w]) {
                distance[w] = d + 1;
                queue[tail++] = w;
            }
        }
    }
}

void key_statistics(const key_graph& g, const set_results& s, int32_t key,
                    distance_scratch& scratch, key_stats& out) {
    out = key_stats{};
    distances_from(g, key, scratch);
    for (int32_t i = 0; i < g.key_count; ++i) {
        if (!in_strong_set(s, i)) continue;
        int32_t d = scratch.distance[i];
        out.distance_total += d;
        ++out.hop_counts[std::min(d, HOP_LIMIT)];
        if (d > out.max_hops) {
            out.max_hops = d;
            out.farthest_keys.clear();
        }
        if (d == out.max_hops) out.farthest_keys.push_back(i);
    }
}

distance_table plain_analysis(const key_graph& g, const set_results& s, int threads) {
    distance_table table;
    for (int32_t k = 0; k < g.key_count; ++k)
        if (s.reachable[static_cast<size_t>(k)]) table.keys.push_back(k);
    table.stats.resize(table.keys.size());
    // Threads take keys in small chunks from a common counter, so every key
    // is analysed however many threads could be started; each writes only
    // its own entries.
    constexpr size_t CHUNK = 8;
    std::atomic<size_t> next{0};
    run_on_threads(threads, [&] {
        distance_scratch scratch;
        for (;;) {
            size_t first = next.fetch_add(CHUNK);
            if (first >= table.keys.size()) return;
            size_t last = std::min(first + CHUNK, table.keys.size());
            for (size_t i = first; i < last; ++i)
                key_statistics(g, s, table.keys[i], scratch, table.stats[i]);
        }
    });
    return table;
}
