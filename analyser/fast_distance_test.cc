// The fast analysis must give exactly what one plain search per key gives,
// on graphs of many shapes and for any number of threads.
#include "fast_distance.h"

#include "graph_fixture.h"
#include "key_import.h"
#include "plain_distance.h"
#include "strong_sets.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// A small deterministic generator, so that every run tests the same graphs.
struct test_random {
    uint64_t state;
    explicit test_random(uint64_t seed) : state(seed) {}
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int32_t below(int32_t n) { return static_cast<int32_t>(next() % static_cast<uint64_t>(n)); }
    bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }
};

// The searches on deep graphs do work that grows with the square of the
// graph's length; sanitizer builds run them many times slower, so they get
// shorter graphs of the same shapes.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool INSTRUMENTED = true;
#else
constexpr bool INSTRUMENTED = false;
#endif
constexpr int32_t deep_size(int32_t plain_build, int32_t instrumented_build) {
    return INSTRUMENTED ? instrumented_build : plain_build;
}

// Compares every field of every key; reports at most a few keys.
void expect_same_tables(const distance_table& want, const distance_table& got,
                        const std::string& what) {
    ASSERT_EQ(want.keys, got.keys) << what;
    ASSERT_EQ(want.stats.size(), got.stats.size()) << what;
    int reported = 0;
    std::vector<int32_t> scratch_a, scratch_b;
    for (size_t i = 0; i < want.stats.size() && reported < 5; ++i) {
        const key_stats& a = want.stats[i];
        const key_stats& b = got.stats[i];
        const std::vector<int32_t>& far_a = farthest_keys_of(want, i, scratch_a);
        const std::vector<int32_t>& far_b = farthest_keys_of(got, i, scratch_b);
        bool same =
            a.distance_total == b.distance_total && a.max_hops == b.max_hops && far_a == far_b &&
            std::equal(std::begin(a.hop_counts), std::end(a.hop_counts), std::begin(b.hop_counts));
        if (same) continue;
        ++reported;
        std::string counts_a, counts_b;
        for (int h = 0; h <= HOP_LIMIT; ++h) {
            counts_a.append(1, ' ').append(std::to_string(a.hop_counts[h]));
            counts_b.append(1, ' ').append(std::to_string(b.hop_counts[h]));
        }
        ADD_FAILURE() << what << ": key " << want.keys[i] << "\n total " << a.distance_total
                      << " vs " << b.distance_total << "\n max " << a.max_hops << " vs "
                      << b.max_hops << "\n farthest " << far_a.size() << " vs " << far_b.size()
                      << "\n counts" << counts_a << "\n    vs" << counts_b;
    }
}

// Checks the fast analysis against the plain one on 1, 2, 3 and 7 threads.
void check_graph(int32_t key_count, const std::vector<signature_edge>& edges,
                 const std::string& what) {
    key_graph g = graph_of(key_count, edges);
    set_results s = reference_sets(g).sets;
    distance_table want = plain_analysis(g, s, 2);
    for (int threads : {1, 2, 3, 7})
        expect_same_tables(want, fast_analysis(g, s, threads),
                           what + " on " + std::to_string(threads) + " threads");
}

// Checks the fast analysis against the plain one with the adaptive choice of
// steps on 1, 2 and 3 threads, and with each step forced on 2 (one thread
// alone takes the same paths as the adaptive runs' small levels).
void check_all_steps(int32_t key_count, const std::vector<signature_edge>& edges,
                     const std::string& what, bool force_bottom_up = true) {
    key_graph g = graph_of(key_count, edges);
    set_results s = reference_sets(g).sets;
    distance_table want = plain_analysis(g, s, 2);
    const std::pair<level_steps, const char*> kinds[] = {
        {level_steps::adaptive, "adaptive"},
        {level_steps::bottom_up_only, "bottom-up"},
        {level_steps::top_down_only, "top-down"},
        {level_steps::word_searches_only, "word-wide"},
        {level_steps::batches_then_words, "batches, then word-wide"},
    };
    for (auto [steps, name] : kinds)
        for (int threads : {1, 2, 3})
            if (steps == level_steps::adaptive ||
                (threads == 2 && (force_bottom_up || steps != level_steps::bottom_up_only)))
                expect_same_tables(want, fast_analysis(g, s, threads, steps),
                                   what + ", " + name + " on " + std::to_string(threads) +
                                       " threads");
}

std::vector<signature_edge> random_edges(test_random& rng, int32_t keys, int64_t count) {
    std::vector<signature_edge> edges;
    for (int64_t i = 0; i < count; ++i)
        edges.push_back({rng.below(keys), rng.below(keys)});
    return edges;
}

TEST(FastAnalysis, WorkedExampleOfFourKeys) {
    // W and X sign each other, X signs Y, Y signs Z.
    key_graph g = graph_of(4, {{0, 1}, {1, 0}, {1, 2}, {2, 3}});
    set_results s = reference_sets(g).sets;
    distance_table t = fast_analysis(g, s, 2);
    ASSERT_EQ(t.keys, (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(t.stats[0].distance_total, 1);
    std::vector<int32_t> scratch;
    EXPECT_EQ(farthest_keys_of(t, 0, scratch), (std::vector<int32_t>{1}));
    EXPECT_EQ(t.stats[2].distance_total, 3);
    EXPECT_EQ(t.stats[2].max_hops, 2);
    EXPECT_EQ(t.stats[3].distance_total, 5);
    EXPECT_EQ(t.stats[3].hop_counts[2], 1);
    EXPECT_EQ(t.stats[3].hop_counts[3], 1);
    EXPECT_EQ(t.stats[3].max_hops, 3);
    EXPECT_EQ(farthest_keys_of(t, 3, scratch), (std::vector<int32_t>{0}));
}

TEST(FastAnalysis, DenseAndSparseRandomGraphs) {
    test_random rng(1);
    for (int round = 0; round < 8; ++round) {
        int32_t keys = 20 + rng.below(120);
        check_graph(keys, random_edges(rng, keys, static_cast<int64_t>(keys) * (2 + rng.below(12))),
                    "random graph " + std::to_string(round));
    }
}

TEST(FastAnalysis, StrongSetSpanningSeveralBatches) {
    // Enough members for several lane batches, the last one partly used.
    test_random rng(2);
    for (int32_t keys : {1400, 2100}) {
        std::vector<signature_edge> edges = random_edges(rng, keys, static_cast<int64_t>(keys) * 3);
        for (int32_t i = 0; i < keys; i += 3)
            edges.push_back({i, (i + 1) % keys}); // reciprocal-ish ring pieces
        check_graph(keys, edges, "large graph of " + std::to_string(keys));
    }
}

TEST(FastAnalysis, LongChainsPastThirtyHops) {
    test_random rng(3);
    for (int round = 0; round < 4; ++round) {
        // A small core, then chains of up to 70 keys leading away from it,
        // some joined by extra signatures so not every key has one signer.
        std::vector<signature_edge> edges;
        int32_t core = 3 + rng.below(6);
        edges.reserve(static_cast<size_t>(core));
        for (int32_t i = 0; i < core; ++i)
            edges.push_back({i, (i + 1) % core});
        int32_t next = core;
        for (int chain = 0; chain < 5; ++chain) {
            int32_t length = 20 + rng.below(50);
            int32_t previous = rng.below(core);
            for (int32_t j = 0; j < length; ++j) {
                edges.push_back({previous, next});
                if (rng.chance(0.1) && next > core + 2)
                    edges.push_back({next - 2 - rng.below(std::min(next - core - 1, 10)), next});
                previous = next++;
            }
        }
        check_graph(next, edges, "chains " + std::to_string(round));
    }
    // A strong set that is one long ring: members up to 99 hops away, and
    // keys behind it farther still.
    std::vector<signature_edge> ring;
    ring.reserve(100);
    for (int32_t i = 0; i < 100; ++i)
        ring.push_back({i, (i + 1) % 100});
    for (int32_t i = 100; i < 130; ++i)
        ring.push_back({i - 1, i});
    check_graph(130, ring, "ring of 100");
}

TEST(FastAnalysis, ManyEqualDistances) {
    // Layers of keys, each signing every key of the next layer, the last
    // layer signing the first: many members share every distance.
    for (int32_t width : {1, 3, 7}) {
        for (int32_t layers : {2, 5, 33}) {
            std::vector<signature_edge> edges;
            for (int32_t l = 0; l < layers; ++l)
                for (int32_t a = 0; a < width; ++a)
                    for (int32_t b = 0; b < width; ++b)
                        edges.push_back({l * width + a, (l + 1) % layers * width + b});
            // A tail behind the last layer.
            edges.push_back({layers * width - 1, layers * width});
            edges.push_back({layers * width, layers * width + 1});
            check_graph(layers * width + 2, edges,
                        "layers " + std::to_string(layers) + "x" + std::to_string(width));
        }
    }
}

TEST(FastAnalysis, SingleKeyStrongSet) {
    // Signatures only from lower to higher key indexes: every set is one
    // key, so the strong set is a single key.
    test_random rng(4);
    for (int round = 0; round < 4; ++round) {
        int32_t keys = 30 + rng.below(60);
        std::vector<signature_edge> edges;
        for (int i = 0; i < keys * 3; ++i) {
            int32_t a = rng.below(keys), b = rng.below(keys);
            if (a != b) edges.push_back({std::min(a, b), std::max(a, b)});
        }
        check_graph(keys, edges, "acyclic " + std::to_string(round));
    }
    check_graph(1, {}, "one key without signatures");
    check_graph(5, {{2, 2}}, "keys without signatures but one self-signature");
}

TEST(FastAnalysis, DuplicateAndSelfSignatures) {
    test_random rng(5);
    for (int round = 0; round < 4; ++round) {
        int32_t keys = 20 + rng.below(50);
        std::vector<signature_edge> edges = random_edges(rng, keys, static_cast<int64_t>(keys) * 2);
        std::vector<signature_edge> noisy;
        for (auto e : edges) {
            noisy.push_back(e);
            if (rng.chance(0.3)) noisy.push_back(e);
            if (rng.chance(0.3)) noisy.push_back({e.second, e.second});
        }
        check_graph(keys, noisy, "noisy " + std::to_string(round));
    }
}

TEST(FastAnalysis, SingleSignerTrees) {
    // Trees of keys with one signer each hang off a random core; some tree
    // keys sign back into the core or into other trees, some repeat their
    // signer's signature or sign themselves, and some keys outside the
    // reachable set sign tree keys.
    test_random rng(6);
    for (int round = 0; round < 6; ++round) {
        int32_t core = 10 + rng.below(40);
        std::vector<signature_edge> edges = random_edges(rng, core, static_cast<int64_t>(core) * 4);
        int32_t keys = core + 50 + rng.below(200);
        for (int32_t k = core; k < keys; ++k) {
            int32_t signer = rng.below(k);
            edges.push_back({signer, k});
            if (rng.chance(0.1)) edges.push_back({signer, k});
            if (rng.chance(0.05)) edges.push_back({k, k});
            if (rng.chance(0.04)) edges.push_back({k, rng.below(keys)});
        }
        // Unreachable signers: keys nobody in the graph signs.
        int32_t outsiders = 5;
        for (int32_t o = 0; o < outsiders; ++o)
            edges.push_back({keys + o, core + rng.below(keys - core)});
        check_graph(keys + outsiders, edges, "trees " + std::to_string(round));
    }
}

TEST(FastAnalysis, KeysOutsideTheReachableSetGetNoEntry) {
    // Two separate rings; only the larger one and what it signs count.
    std::vector<signature_edge> edges = {{0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 3}, {4, 0}, {2, 5}};
    key_graph g = graph_of(6, edges);
    set_results s = reference_sets(g).sets;
    distance_table t = fast_analysis(g, s, 3);
    EXPECT_EQ(t.keys, (std::vector<int32_t>{0, 1, 2, 5}));
    check_graph(6, edges, "two rings");
}

TEST(FastAnalysis, LongCyclesWithChords) {
    // A cycle longer than one batch of lanes (in plain builds), so that the last batch is
    // partly used and the searches go thousands of levels deep; then the
    // same with a few chords, which shorten some distances and make the
    // frontier uneven.
    const int32_t keys = deep_size(4200, 1000);
    std::vector<signature_edge> cycle;
    cycle.reserve(static_cast<size_t>(keys));
    for (int32_t i = 0; i < keys; ++i)
        cycle.push_back({i, (i + 1) % keys});
    // Bottom-up steps alone would look at every key on every one of the
    // thousands of levels; the shorter cycle below checks them.
    check_all_steps(keys, cycle, "long cycle", false);
    test_random rng(7);
    const int32_t shorter = deep_size(2500, 700);
    std::vector<signature_edge> chorded;
    chorded.reserve(static_cast<size_t>(shorter));
    for (int32_t i = 0; i < shorter; ++i)
        chorded.push_back({i, (i + 1) % shorter});
    for (int c = 0; c < 12; ++c)
        chorded.push_back({rng.below(shorter), rng.below(shorter)});
    // A tail behind the cycle, outside the strong set.
    for (int32_t i = shorter; i < shorter + 40; ++i)
        chorded.push_back({i - 1, i});
    check_all_steps(shorter + 40, chorded, "cycle with chords and a tail");
}

TEST(FastAnalysis, DenseCoreWithALongCycle) {
    // A "lollipop": a dense core where the frontier is wide for a level or
    // two, and a cycle of many keys through it where the frontier is a few
    // keys for a long time.
    test_random rng(8);
    const int32_t core = 80;
    const int32_t loop = deep_size(1500, 600);
    std::vector<signature_edge> edges = random_edges(rng, core, static_cast<int64_t>(core) * 12);
    for (int32_t i = 0; i < core; ++i)
        edges.push_back({i, (i + 1) % core});
    edges.push_back({3, core});
    for (int32_t i = core; i < core + loop - 1; ++i)
        edges.push_back({i, i + 1});
    edges.push_back({core + loop - 1, 5});
    check_all_steps(core + loop, edges, "lollipop");
    // The same with the cycle entered and left at several core keys.
    for (int j = 0; j < 6; ++j) {
        edges.push_back({rng.below(core), core + rng.below(loop)});
        edges.push_back({core + rng.below(loop), rng.below(core)});
    }
    check_all_steps(core + loop, edges, "lollipop with shortcuts");
}

TEST(FastAnalysis, LongChainSignedBothWays) {
    // A chain of thousands of keys, each signing both neighbours: every key is in
    // the strong set, the ends are thousands of hops apart, and the frontier of a
    // batch thins out slowly from thousands of keys to two.
    const int32_t keys = deep_size(3000, 800);
    std::vector<signature_edge> edges;
    for (int32_t i = 0; i + 1 < keys; ++i) {
        edges.push_back({i, i + 1});
        edges.push_back({i + 1, i});
    }
    check_all_steps(keys, edges, "chain signed both ways");
}

// Key lists made by keygen, read through the real import and set search:
// realistic shapes, and noisy lists with duplicate keys, unknown signers,
// lower-case ids, shared id_low halves and records the import skips.
TEST(FastAnalysis, KeyListsFromTheGenerator) {
    const char* shapes[] = {
        "-n 4000 -s 11",
        "-n 3000 -s 12 --max-chain 45 --tail-fraction 0.6",
        "-n 2500 -s 13 --reciprocal 0.9 -m 9",
        "-n 3000 -s 14 --reciprocal 0.1 -m 2.5 --island-fraction 0.5",
        // One shape over two lines; the parentheses say the joined literal is meant.
        ("-n 3000 -s 15 --dup-keys 0.02 --dup-sigs 0.05 --self-sigs 0.05 --unknown-signers 0.03 "
         "--lower-case 0.05 --low-collisions 0.02 --bad-records 0.01"),
    };
    for (const char* shape : shapes) {
        key_graph g;
        set_results s;
        std::string error;
        ASSERT_TRUE(import_generated(std::string(KEYGEN_PATH) + " " + shape, g, s, error)) << error;
        distance_table want = plain_analysis(g, s, 2);
        for (int threads : {1, 2, 3, 7})
            expect_same_tables(want, fast_analysis(g, s, threads),
                               std::string("keygen ") + shape + " on " + std::to_string(threads) +
                                   " threads");
    }
}

} // namespace
