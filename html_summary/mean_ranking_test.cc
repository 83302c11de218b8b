#include "mean_ranking.h"

#include "test_dirs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

ranked_key key(mean_e4 mean, uint32_t high, uint32_t low, int64_t line) {
    return {mean, {high, low}, line};
}

TEST(MeanRanking, LowestMeanFirstTiesByKeyIdThenLine) {
    mean_ranking r;
    add_ranked_key(r, key(20000, 0, 5, 1));
    add_ranked_key(r, key(10000, 9, 1, 2));
    add_ranked_key(r, key(10000, 1, 9, 3));
    add_ranked_key(r, key(10000, 1, 2, 4));
    add_ranked_key(r, key(10000, 1, 2, 5)); // the same id listed twice
    std::vector<ranked_key> keys = take_ranked_keys(r);
    ASSERT_EQ(keys.size(), 5u);
    std::vector<int64_t> lines;
    lines.reserve(keys.size());
    for (const ranked_key& k : keys)
        lines.push_back(k.line);
    EXPECT_EQ(lines, (std::vector<int64_t>{4, 5, 3, 2, 1}));
    EXPECT_EQ(r.total, 5);
}

// The bounded heap keeps exactly the first `limit` of the full order, in
// any input order.
TEST(MeanRanking, LimitKeepsTheBestOfAShuffledInput) {
    // NOLINTNEXTLINE(cert-msc32-c,cert-msc51-cpp): a fixed seed keeps the test repeatable
    std::mt19937 random(7);
    std::vector<ranked_key> all;
    for (int64_t i = 0; i < 5000; ++i)
        all.push_back(key(static_cast<mean_e4>(random() % 300), random() % 4, random() % 4, i));
    std::vector<ranked_key> sorted = all;
    std::sort(sorted.begin(), sorted.end(), ranks_before);
    for (size_t limit : {1u, 7u, 1000u, 4999u, 5000u, 6000u}) {
        mean_ranking r;
        r.limit = limit;
        for (const ranked_key& k : all)
            add_ranked_key(r, k);
        std::vector<ranked_key> kept = take_ranked_keys(r);
        ASSERT_EQ(kept.size(), std::min<size_t>(limit, all.size()));
        for (size_t i = 0; i < kept.size(); ++i)
            ASSERT_EQ(kept[i].line, sorted[i].line) << "limit " << limit << " rank " << i;
        EXPECT_EQ(r.total, 5000);
    }
}

std::vector<histogram_bin> bins_of(std::initializer_list<mean_e4> means, size_t max_bins) {
    mean_histogram h;
    for (mean_e4 m : means)
        add_mean(h, m);
    return histogram_bins(h, max_bins);
}

TEST(MeanHistogram, NiceWidthsAlignedBinsAndEdges) {
    EXPECT_TRUE(bins_of({}, 40).empty());

    // One value: one bin of one hundredth.
    std::vector<histogram_bin> one = bins_of({38710}, 40);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].low, 38700);
    EXPECT_EQ(one[0].high, 38800);
    EXPECT_EQ(one[0].count, 1);

    // 1.50 to 18.00 in at most 40 bins: width 0.50 from 1.50.
    std::vector<histogram_bin> wide = bins_of({15000, 15001, 29999, 30000, 180000}, 40);
    ASSERT_EQ(wide.size(), 34u);
    EXPECT_EQ(wide[0].low, 15000);
    EXPECT_EQ(wide[0].high - wide[0].low, 5000);
    EXPECT_EQ(wide[0].count, 1 + 1);
    EXPECT_EQ(wide[2].count, 1); // 2.9999 is below the edge at 3.00
    EXPECT_EQ(wide[3].low, 30000);
    EXPECT_EQ(wide[3].count, 1); // 3.0000 on the edge counts above it
    EXPECT_EQ(wide.back().count, 1);
    EXPECT_EQ(wide.back().low, 180000);

    // The width grows through 1, 2, 2.5, 5 times powers of ten until it fits.
    EXPECT_EQ(bins_of({0, 12400}, 5)[0].high, 2500);
    EXPECT_EQ(bins_of({0, 9900}, 10)[0].high, 1000);
    EXPECT_EQ(bins_of({0, 10000}, 10)[0].high, 2000);

    // The counts always add up, and the bins are contiguous.
    // NOLINTNEXTLINE(cert-msc32-c,cert-msc51-cpp): a fixed seed keeps the test repeatable
    std::mt19937 random(3);
    mean_histogram h;
    for (int i = 0; i < 10000; ++i)
        add_mean(h, static_cast<mean_e4>(random() % 700000));
    std::vector<histogram_bin> bins = histogram_bins(h, 40);
    EXPECT_LE(bins.size(), 40u);
    int64_t total = 0;
    for (size_t i = 0; i < bins.size(); ++i) {
        total += bins[i].count;
        if (i > 0) {
            EXPECT_EQ(bins[i].low, bins[i - 1].high);
        }
    }
    EXPECT_EQ(total, 10000);
}

TEST(ReadMsd, StreamsLinesIntoRankingAndHistogram) {
    scratch_dir d;
    write_file(d.path / "msd.txt", "0000000B 000000BB   0.5000\n0000000A 000000AA   0.5000\n"
                                   "0000000C 000000CC 1234.5000\n");
    mean_ranking r;
    r.limit = 2;
    mean_histogram h;
    read_msd(d.dir(), r, h);
    std::vector<ranked_key> keys = take_ranked_keys(r);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].id.id_low, 0xAAu);
    EXPECT_EQ(keys[1].id.id_low, 0xBBu);
    EXPECT_EQ(r.total, 3);
    EXPECT_EQ(h.hundredths.size(), 2u);
}

TEST(ReadMsd, MalformedLinesAreNamed) {
    scratch_dir d;
    mean_ranking r;
    mean_histogram h;
    for (const char* bad :
         {"0000000A 000000AA", "0000000A 000000AA   0.5", "0000000A 000000AA\t0.5000",
          "0000000a 000000AA   0.5000", "0000000A 000000AA   -nan", "0000000A 000000AA  -1.0000",
          "0000000A 000000AA   0.50001"}) {
        write_file(d.path / "msd.txt", std::string("0000000B 000000BB   0.5000\n") + bad + "\n");
        EXPECT_EQ(input_error_of([&] { read_msd(d.dir(), r, h); }),
                  d.dir() + "msd.txt:2: expected a key id and a mean distance, found " +
                      quote_line(bad));
    }
    write_file(d.path / "msd.txt", "0000000B 000000BB   0.5000\n0000000A 000000AA   0.5");
    EXPECT_EQ(input_error_of([&] { read_msd(d.dir(), r, h); }),
              d.dir() + "msd.txt:2: last line has no line end (file cut short?)");
}

} // namespace
