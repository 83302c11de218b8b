#include "random.h"

#include <gtest/gtest.h>

#include <vector>

// The reference splitmix64 sequence from state 0: if these change, every
// seed's key list changes with them.
TEST(Random, SplitmixMatchesReferenceSequence) {
    std::uint64_t state = 0;
    EXPECT_EQ(splitmix64_next(state), 0xE220A8397B1DCDAFULL);
    EXPECT_EQ(splitmix64_next(state), 0x6E789E6AA1B965F4ULL);
    EXPECT_EQ(splitmix64_next(state), 0x06C45D188009454FULL);
}

TEST(Random, StreamsOfOneSeedAreIndependentAndRepeatable) {
    random_state a = seed_random(42, 1), b = seed_random(42, 1), c = seed_random(42, 2);
    int same_as_c = 0;
    for (int i = 0; i < 100; ++i) {
        const std::uint64_t x = next_u64(a);
        EXPECT_EQ(x, next_u64(b));
        same_as_c += x == next_u64(c);
    }
    EXPECT_EQ(same_as_c, 0);
}

TEST(Random, BelowStaysInRangeAndCoversIt) {
    random_state r = seed_random(7, 0);
    EXPECT_EQ(random_below(r, 1), 0U);
    std::vector<int> seen(10);
    for (int i = 0; i < 10000; ++i) {
        const std::uint64_t x = random_below(r, 10);
        ASSERT_LT(x, 10U);
        ++seen[x];
    }
    for (int count : seen)
        EXPECT_NEAR(count, 1000, 150);
    // A bound near 2^64 exercises the rejection step.
    const std::uint64_t big = (1ULL << 63) + 12345;
    for (int i = 0; i < 1000; ++i)
        ASSERT_LT(random_below(r, big), big);
}

TEST(Random, ParetoWeightsAreHeavyTailed) {
    random_state r = seed_random(3, 0);
    int above_10 = 0, above_100 = 0;
    const int n = 200000;
    for (int i = 0; i < n; ++i) {
        const double w = random_pareto_weight(r);
        ASSERT_GE(w, 1.0);
        above_10 += w > 10;
        above_100 += w > 100;
    }
    // P(W > x) = x^(-4/3): about 4.6% above 10 and 0.22% above 100.
    EXPECT_NEAR(above_10 / double(n), 0.0464, 0.005);
    EXPECT_NEAR(above_100 / double(n), 0.00215, 0.0006);
}

TEST(Random, AliasTableDrawsInProportionToWeight) {
    const std::vector<double> weights{1, 0, 3, 6};
    const alias_table t = make_alias_table(weights);
    random_state r = seed_random(11, 0);
    std::vector<int> seen(4);
    const int n = 100000;
    for (int i = 0; i < n; ++i)
        ++seen[alias_draw(t, r)];
    EXPECT_EQ(seen[1], 0);
    EXPECT_NEAR(seen[0], n * 0.1, n * 0.01);
    EXPECT_NEAR(seen[2], n * 0.3, n * 0.01);
    EXPECT_NEAR(seen[3], n * 0.6, n * 0.01);
}
