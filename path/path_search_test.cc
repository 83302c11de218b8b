// The searches against plain references on many small graphs: all-pairs
// breadth-first search, path counting by layers, every shortest path
// enumerated and sorted, and a textbook maximum flow on the split-key graph.
#include "key_import.h"
#include "path_search.h"
#include "path_test_graphs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <queue>
#include <random>
#include <set>

namespace {

// The reference's view of the graph: the imported signatures as a set per
// key, self-signatures dropped.
struct plain_graph {
    int n = 0;
    std::vector<uint64_t> ids;
    std::vector<std::set<int>> out;
};

plain_graph plain_of_text(const std::string& text) {
    key_graph g;
    EXPECT_EQ(import_keys_from_memory(text.data(), text.size(), "t", nullptr, g), 0);
    plain_graph p;
    p.n = g.key_count;
    p.out.resize(static_cast<size_t>(p.n));
    for (int k = 0; k < p.n; ++k) {
        const key_record& r = g.key_table[static_cast<size_t>(k)];
        p.ids.push_back((static_cast<uint64_t>(r.id_high) << 32) | r.id_low);
        for (int32_t w : signs(g, k))
            if (w != k) p.out[static_cast<size_t>(k)].insert(w);
    }
    return p;
}

std::vector<int> distances_from(const plain_graph& p, int s) {
    std::vector<int> dist(static_cast<size_t>(p.n), -1);
    std::queue<int> queue;
    dist[static_cast<size_t>(s)] = 0;
    queue.push(s);
    while (!queue.empty()) {
        int u = queue.front();
        queue.pop();
        for (int w : p.out[static_cast<size_t>(u)])
            if (dist[static_cast<size_t>(w)] < 0) {
                dist[static_cast<size_t>(w)] = dist[static_cast<size_t>(u)] + 1;
                queue.push(w);
            }
    }
    return dist;
}

uint64_t count_shortest(const plain_graph& p, const std::vector<int>& dist, int s, int t) {
    std::vector<uint64_t> count(static_cast<size_t>(p.n), 0);
    count[static_cast<size_t>(s)] = 1;
    for (int layer = 0; layer < dist[static_cast<size_t>(t)]; ++layer)
        for (int u = 0; u < p.n; ++u)
            if (dist[static_cast<size_t>(u)] == layer)
                for (int w : p.out[static_cast<size_t>(u)])
                    if (dist[static_cast<size_t>(w)] == layer + 1)
                        count[static_cast<size_t>(w)] += count[static_cast<size_t>(u)];
    return count[static_cast<size_t>(t)];
}

void enumerate(const plain_graph& p, const std::vector<int>& dist, int t,
               std::vector<uint64_t>& path, int u, std::vector<std::vector<uint64_t>>& all) {
    if (u == t) {
        all.push_back(path);
        return;
    }
    for (int w : p.out[static_cast<size_t>(u)])
        if (dist[static_cast<size_t>(w)] == dist[static_cast<size_t>(u)] + 1 &&
            dist[static_cast<size_t>(w)] <= dist[static_cast<size_t>(t)]) {
            path.push_back(p.ids[static_cast<size_t>(w)]);
            enumerate(p, dist, t, path, w, all);
            path.pop_back();
        }
}

// Maximum flow from s's exit node to t's entry node; every key's entry and
// exit joined by capacity 1, every signature of capacity 1.
int max_flow(const plain_graph& p, int s, int t) {
    auto n = static_cast<size_t>(p.n);
    std::vector<std::vector<int>> cap(2 * n, std::vector<int>(2 * n, 0));
    for (size_t k = 0; k < n; ++k) {
        cap[2 * k][2 * k + 1] = 1;
        for (int w : p.out[k])
            cap[2 * k + 1][2 * static_cast<size_t>(w)] = 1;
    }
    size_t source = 2 * static_cast<size_t>(s) + 1;
    size_t sink = 2 * static_cast<size_t>(t);
    const size_t none = 2 * n;
    int flow = 0;
    for (;;) {
        std::vector<size_t> parent(2 * n, none);
        parent[source] = source;
        std::queue<size_t> queue;
        queue.push(source);
        while (!queue.empty() && parent[sink] == none) {
            size_t x = queue.front();
            queue.pop();
            for (size_t y = 0; y < 2 * n; ++y)
                if (cap[x][y] > 0 && parent[y] == none) {
                    parent[y] = x;
                    queue.push(y);
                }
        }
        if (parent[sink] == none) return flow;
        for (size_t y = sink; y != source; y = parent[y]) {
            --cap[parent[y]][y];
            ++cap[y][parent[y]];
        }
        ++flow;
    }
}

// Every pair of keys of the key list, answered by the program's searches
// and by the references.
void check_all_pairs(const std::string& text, int32_t path_limit, int32_t disjoint_limit) {
    plain_graph p = plain_of_text(text);
    path_index ix = index_of_text(text);
    search_space space = make_search_space(ix.key_count);
    for (int s = 0; s < p.n; ++s) {
        std::vector<int> dist = distances_from(p, s);
        for (int t = 0; t < p.n; ++t) {
            SCOPED_TRACE("from " + std::to_string(s) + " to " + std::to_string(t) + " in\n" + text);
            path_answer a = answer_query(ix, space, s, t, path_limit, disjoint_limit);
            int d = dist[static_cast<size_t>(t)];
            ASSERT_EQ(a.hops, d);
            if (d < 0) {
                EXPECT_EQ(a.paths_total, 0U);
                EXPECT_TRUE(a.paths.empty());
                EXPECT_EQ(a.disjoint, 0);
                continue;
            }
            EXPECT_EQ(a.paths_total, count_shortest(p, dist, s, t));
            EXPECT_FALSE(a.paths_saturated);
            std::vector<std::vector<uint64_t>> all;
            std::vector<uint64_t> path{p.ids[static_cast<size_t>(s)]};
            enumerate(p, dist, t, path, s, all);
            std::sort(all.begin(), all.end());
            if (all.size() > static_cast<size_t>(path_limit))
                all.resize(static_cast<size_t>(path_limit));
            std::vector<std::vector<uint64_t>> listed;
            for (const auto& keys : a.paths) {
                listed.emplace_back();
                for (int32_t k : keys)
                    listed.back().push_back(ix.ids[static_cast<size_t>(k)]);
            }
            EXPECT_EQ(listed, all);
            int flow = s == t ? 1 : max_flow(p, s, t);
            if (a.disjoint_at_least) {
                EXPECT_EQ(a.disjoint, disjoint_limit);
                EXPECT_GE(flow, disjoint_limit);
            } else {
                EXPECT_EQ(a.disjoint, flow);
            }
        }
    }
}

// Graphs of up to `most_keys` keys with repeated ids, repeated signatures,
// self-signatures and signers that are not in the list.
void check_random_graphs(int rounds, int most_keys, uint64_t seed) {
    std::mt19937_64 random(seed);
    for (int round = 0; round < rounds; ++round) {
        int n = 1 + static_cast<int>(random() % static_cast<uint64_t>(most_keys));
        std::vector<uint64_t> ids;
        ids.reserve(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k)
            ids.push_back(random() % 4 == 0 && k > 0 ? ids[random() % ids.size()] // repeated id
                                                     : random());
        std::vector<std::pair<int, int>> signatures;
        int edges = static_cast<int>(random() % static_cast<uint64_t>(4 * n + 1));
        for (int e = 0; e < edges; ++e) {
            int signer =
                random() % 12 == 0 ? -1 : static_cast<int>(random() % static_cast<uint64_t>(n));
            signatures.emplace_back(signer, static_cast<int>(random() % static_cast<uint64_t>(n)));
            if (random() % 6 == 0) signatures.push_back(signatures.back()); // repeated signature
        }
        check_all_pairs(key_list_text(ids, signatures), round % 2 == 0 ? 3 : 1000,
                        round % 3 == 0 ? 2 : 1000);
    }
}

TEST(PathSearch, AgreesWithReferencesOnRandomGraphs) {
    check_random_graphs(400, 12, 12);
    // Larger ones, where augmenting paths must reroute earlier flow.
    check_random_graphs(40, 40, 13);
}

// Shapes the random graphs meet only by chance: many equal shortest paths
// (a lattice), a cycle, a direct signature beside longer paths, parts with
// no connection, self-signatures only, and a bottleneck key.
TEST(PathSearch, AgreesWithReferencesOnShapes) {
    std::vector<uint64_t> ids;
    for (uint64_t k = 0; k < 12; ++k)
        ids.push_back(0x9000000000000000ULL - k * 0x1111); // id order is the reverse of the list's
    std::vector<std::vector<std::pair<int, int>>> shapes = {
        {{0, 1}, {0, 2}, {0, 3}, {1, 4}, {2, 4}, {3, 4}, {1, 5}, {2, 5}, {4, 6}, {5, 6}, {3, 6}},
        {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 0}, {2, 0}},
        {{0, 5}, {0, 1}, {1, 5}, {0, 2}, {2, 3}, {3, 5}, {0, 4}, {4, 5}},
        {{0, 1}, {1, 0}, {2, 3}, {3, 2}, {4, 4}, {5, 5}, {5, 5}},
        {{0, 1}, {0, 2}, {0, 3}, {1, 4}, {2, 4}, {3, 4}, {4, 5}, {4, 6}, {5, 7}, {6, 7}},
    };
    for (const auto& shape : shapes)
        check_all_pairs(key_list_text(ids, shape), 100, 8);
}

// 33 layers of two keys, each signing both keys of the next layer: 2^65
// shortest paths from the first key to the last.
TEST(PathSearch, CountSaturates) {
    std::vector<uint64_t> ids{1};
    std::vector<std::pair<int, int>> signatures{{0, 1}, {0, 2}};
    for (int layer = 0; layer < 66; ++layer) {
        ids.push_back(0x100 + static_cast<uint64_t>(2 * layer));
        ids.push_back(0x100 + static_cast<uint64_t>(2 * layer) + 1);
        if (layer < 65)
            for (int a = 0; a < 2; ++a)
                for (int b = 0; b < 2; ++b)
                    signatures.emplace_back(1 + 2 * layer + a, 1 + 2 * (layer + 1) + b);
    }
    ids.push_back(2);
    signatures.emplace_back(static_cast<int>(ids.size()) - 3, static_cast<int>(ids.size()) - 1);
    signatures.emplace_back(static_cast<int>(ids.size()) - 2, static_cast<int>(ids.size()) - 1);
    path_index ix = index_of_text(key_list_text(ids, signatures));
    search_space space = make_search_space(ix.key_count);
    path_answer a = answer_query(ix, space, 0, ix.key_count - 1, 2, 8);
    EXPECT_EQ(a.hops, 67);
    EXPECT_EQ(a.paths_total, PATH_COUNT_MAX);
    EXPECT_TRUE(a.paths_saturated);
    ASSERT_EQ(a.paths.size(), 2U);
    // The first path takes the lower id of every layer; the second differs
    // only in the last layer.
    for (size_t place = 1; place + 1 < a.paths[0].size(); ++place)
        EXPECT_EQ(ix.ids[static_cast<size_t>(a.paths[0][place])] % 2, 0U) << place;
    EXPECT_EQ(ix.ids[static_cast<size_t>(a.paths[1][66])] % 2, 1U);
    EXPECT_EQ(a.disjoint, 2);
    EXPECT_FALSE(a.out_of_time);

    // Past the deadline the shortest paths are still found, the disjoint
    // count stops and says so; the next query without one counts again.
    space.deadline = std::chrono::steady_clock::now();
    path_answer late = answer_query(ix, space, 0, ix.key_count - 1, 2, 8);
    EXPECT_EQ(late.hops, 67);
    EXPECT_TRUE(late.out_of_time);
    EXPECT_EQ(late.disjoint, 0);
    space.deadline = std::chrono::steady_clock::time_point::max();
    EXPECT_EQ(answer_query(ix, space, 0, ix.key_count - 1, 2, 8).disjoint, 2);
}

} // namespace
