#include "graph_fixture.h"
#include "strong_sets.h"

#include <gtest/gtest.h>

namespace {

struct sets_run {
    set_results s;
    std::string othersets;
    std::string status;
};

sets_run run_find_sets(const key_graph& g) {
    sets_run r;
    FILE* othersets = tmpfile();
    FILE* status = tmpfile();
    find_sets(g, othersets, status, r.s);
    r.othersets = stream_text(othersets);
    r.status = stream_text(status);
    (void)std::fclose(othersets);
    (void)std::fclose(status);
    return r;
}

// Keys W, X, Y, Z: X signs W, W signs X, X signs Y, Y signs Z.
key_graph four_keys() {
    return graph_of(4, {{1, 0}, {0, 1}, {1, 2}, {2, 3}});
}

} // namespace

TEST(FindSets, FourKeysExample) {
    sets_run r = run_find_sets(four_keys());
    EXPECT_EQ(r.othersets, "00000000 00000011\n00000000 00000010\n"
                           "*** 2 keys in this strongly connected set\n\n"
                           "00000000 00000012\n*** 1 keys in this strongly connected set\n\n"
                           "00000000 00000013\n*** 1 keys in this strongly connected set\n\n");
    EXPECT_EQ(r.status, "reachable set is size 4\nstrongly connected set is size 2\n");
    EXPECT_EQ(r.s.component_of, (std::vector<int32_t>{0, 0, 2, 3}));
    EXPECT_EQ(r.s.strong_set_root, 0);
    EXPECT_EQ(r.s.strong_set_size, 2);
}

TEST(FindSets, TieGoesToTheSetFinishedFirst) {
    // Key 1 signed key 0; key 1's set finishes first and stays the strong set.
    sets_run r = run_find_sets(graph_of(2, {{1, 0}}));
    EXPECT_EQ(r.s.strong_set_root, 1);
    EXPECT_EQ(r.s.strong_set_size, 1);
    EXPECT_EQ(r.s.reachable_size, 2);
    EXPECT_EQ(r.othersets, "00000000 00000011\n*** 1 keys in this strongly connected set\n\n"
                           "00000000 00000010\n*** 1 keys in this strongly connected set\n\n");
}

TEST(FindSets, EmptyListReachesNothing) {
    sets_run r = run_find_sets(graph_of(0, {}));
    EXPECT_EQ(r.othersets, "");
    EXPECT_EQ(r.status, "reachable set is size 0\nstrongly connected set is size 0\n");
}

TEST(FindSets, SelfAndRepeatedSignaturesChangeNothing) {
    sets_run plain = run_find_sets(graph_of(3, {{0, 1}, {1, 0}, {1, 2}}));
    sets_run noisy =
        run_find_sets(graph_of(3, {{0, 0}, {0, 1}, {1, 0}, {0, 1}, {1, 2}, {2, 2}, {1, 2}}));
    EXPECT_EQ(plain.othersets, noisy.othersets);
    EXPECT_EQ(plain.status, noisy.status);
}

TEST(FindSets, VisitOrderWithinNestedSets) {
    // 0 <- 1 <- 2 <- 0 is one set, 3 <- 2 hangs off it and 4 <-> 3 forms a
    // second set reached later; the key visited last is written first.
    sets_run r = run_find_sets(graph_of(5, {{1, 0}, {2, 1}, {0, 2}, {2, 3}, {3, 4}, {4, 3}}));
    EXPECT_EQ(r.othersets, "00000000 00000012\n00000000 00000011\n00000000 00000010\n"
                           "*** 3 keys in this strongly connected set\n\n"
                           "00000000 00000014\n00000000 00000013\n"
                           "*** 2 keys in this strongly connected set\n\n");
    EXPECT_EQ(r.s.reachable_size, 5);
    EXPECT_EQ(r.s.component_of, (std::vector<int32_t>{0, 0, 0, 3, 3}));
}

// A chain of a million keys, in both directions: the search goes as deep as
// the chain without exhausting the stack.
TEST(FindSets, MillionKeyChains) {
    constexpr int32_t KEYS = 1000000;
    std::vector<std::pair<int32_t, int32_t>> edges;
    for (int32_t k = 0; k + 1 < KEYS; ++k)
        edges.emplace_back(k, k + 1); // k signed k + 1
    sets_run forward = run_find_sets(graph_of(KEYS, edges));
    EXPECT_EQ(forward.s.strong_set_root, 0);
    EXPECT_EQ(forward.s.reachable_size, KEYS);
    for (auto& [from, to] : edges)
        std::swap(from, to); // k + 1 signed k
    sets_run backward = run_find_sets(graph_of(KEYS, edges));
    // The search from key 0 runs down the whole chain and finishes the last key first.
    EXPECT_EQ(backward.s.strong_set_root, KEYS - 1);
    EXPECT_EQ(backward.s.strong_set_size, 1);
    EXPECT_EQ(backward.s.reachable_size, KEYS);
    EXPECT_EQ(backward.othersets.substr(0, 18), "00000000 000F424F\n");
}
