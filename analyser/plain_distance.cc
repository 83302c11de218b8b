#include "plain_distance.h"

#include <algorithm>
#include <thread>

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
        if (!in_strong_set(s, i))
            continue;
        int32_t d = scratch.distance[i];
        out.distance_total += d;
        ++out.hop_counts[std::min(d, HOP_LIMIT)];
        if (d > out.max_hops) {
            out.max_hops = d;
            out.farthest_keys.clear();
        }
        if (d == out.max_hops)
            out.farthest_keys.push_back(i);
    }
}

distance_table plain_analysis(const key_graph& g, const set_results& s, int threads) {
    distance_table table;
    for (int32_t k = 0; k < g.key_count; ++k)
        if (s.reachable[k])
            table.keys.push_back(k);
    table.stats.resize(table.keys.size());
    if (threads < 1)
        threads = 1;
    // Worker t takes every threads-th key; each writes only its own entries.
    auto work = [&](int t) {
        distance_scratch scratch;
        for (size_t i = static_cast<size_t>(t); i < table.keys.size(); i += static_cast<size_t>(threads))
            key_statistics(g, s, table.keys[i], scratch, table.stats[i]);
    };
    std::vector<std::thread> workers;
    for (int t = 1; t < threads; ++t)
        workers.emplace_back(work, t);
    work(0);
    for (std::thread& w : workers)
        w.join();
    return table;
}
