// The set search and the distance statistics checked against plain, slow,
// obviously correct computations on many small random graphs: the reference
// Tarjan search of graph_fixture.h, and all-pairs distances by
// Floyd-Warshall.
#include "graph_fixture.h"
#include "plain_distance.h"
#include "strong_sets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

// A random graph with duplicates and self-signatures, sometimes with a
// dense core so that the strong set is large.
key_graph random_graph(std::mt19937& random) {
    int32_t n = std::uniform_int_distribution<int32_t>(1, 60)(random);
    int32_t edges = std::uniform_int_distribution<int32_t>(0, 3 * n)(random);
    int32_t core = std::uniform_int_distribution<int32_t>(1, n)(random);
    std::vector<signature_edge> list;
    for (int32_t e = 0; e < edges; ++e) {
        bool in_core = random() % 2 == 0;
        int32_t limit = in_core ? core : n;
        list.emplace_back(static_cast<int32_t>(random() % limit),
                          static_cast<int32_t>(random() % limit));
    }
    return graph_of(n, list);
}

} // namespace

TEST(ReferenceCheck, SetsAndStatisticsOnRandomGraphs) {
    // NOLINTNEXTLINE(cert-msc32-c,cert-msc51-cpp): a fixed seed keeps the test repeatable
    std::mt19937 random(20260912);
    for (int round = 0; round < 300; ++round) {
        key_graph g = random_graph(random);
        SCOPED_TRACE("round " + std::to_string(round));
        const reference_result expected = reference_sets(g);
        set_results s;
        FILE* othersets = tmpfile();
        FILE* status = tmpfile();
        find_sets(g, othersets, status, s);
        ASSERT_EQ(stream_text(othersets), expected.othersets);
        (void)std::fclose(othersets);
        (void)std::fclose(status);
        ASSERT_EQ(s.component_of, expected.sets.component_of);
        ASSERT_EQ(s.strong_set_root, expected.sets.strong_set_root);
        ASSERT_EQ(s.strong_set_size, expected.sets.strong_set_size);
        ASSERT_EQ(s.reachable, expected.sets.reachable);

        // dist[a][b]: hops of the shortest chain of signatures from a to b.
        size_t n = static_cast<size_t>(g.key_count);
        constexpr int64_t FAR = 1 << 30;
        std::vector<std::vector<int64_t>> dist(n, std::vector<int64_t>(n, FAR));
        for (size_t a = 0; a < n; ++a) {
            dist[a][a] = 0;
            for (int32_t b : signs(g, static_cast<int32_t>(a)))
                dist[a][static_cast<size_t>(b)] = std::min<int64_t>(dist[a][b], 1);
        }
        for (size_t m = 0; m < n; ++m)
            for (size_t a = 0; a < n; ++a)
                for (size_t b = 0; b < n; ++b)
                    dist[a][b] = std::min(dist[a][b], dist[a][m] + dist[m][b]);

        std::vector<int32_t> reachable_keys;
        for (size_t k = 0; k < n; ++k)
            if (dist[static_cast<size_t>(s.strong_set_root)][k] < FAR)
                reachable_keys.push_back(static_cast<int32_t>(k));
        ASSERT_EQ(s.reachable_size, static_cast<int32_t>(reachable_keys.size()));

        distance_table table = plain_analysis(g, s, 3);
        ASSERT_EQ(table.keys, reachable_keys);
        for (size_t i = 0; i < table.keys.size(); ++i) {
            size_t k = static_cast<size_t>(table.keys[i]);
            int64_t total = 0, greatest = -1;
            std::vector<int32_t> hops(HOP_LIMIT + 1), farthest;
            for (size_t m = 0; m < n; ++m) {
                if (s.component_of[m] != s.strong_set_root) continue;
                int64_t d = dist[m][k];
                total += d;
                ++hops[static_cast<size_t>(std::min<int64_t>(d, HOP_LIMIT))];
                if (d > greatest) farthest.clear(), greatest = d;
                if (d == greatest) farthest.push_back(static_cast<int32_t>(m));
            }
            const key_stats& got = table.stats[i];
            ASSERT_EQ(got.distance_total, total);
            ASSERT_EQ(got.max_hops, greatest);
            ASSERT_EQ(got.farthest_keys, farthest);
            ASSERT_EQ(std::vector<int32_t>(got.hop_counts, got.hop_counts + HOP_LIMIT + 1), hops);
        }
    }
}
