#include "graph_fixture.h"
#include "key_report.h"

#include <gtest/gtest.h>

TEST(KeyReport, KeyOutsideTheStrongSet) {
    // W, X, Y, Z: X signs W, W signs X, X signs Y, Y signs Z; the report of Z.
    key_graph g = graph_of(4, {{1, 0}, {0, 1}, {1, 2}, {2, 3}});
    set_results s{{0, 0, 2, 3}, 0, 2, {1, 1, 1, 1}, 4};
    key_stats z;
    z.distance_total = 5;
    z.hop_counts[2] = 1;
    z.hop_counts[3] = 1;
    z.max_hops = 3;
    z.farthest_keys = {0};
    std::string text;
    format_key_report(text, g, s, 3, z);
    EXPECT_EQ(text, "KeyID 00000000 00000013\n\n" + std::string(REPORT_PREAMBLE) +
                        "Signatures to this key:\n  00000000 00000012\n"
                        "Total: 1 signatures to this id from this set\n\n"
                        "Signatures from this key:\n"
                        "Total: 0 signatures from this id to this set\n\n"
                        "This key is not in the strong set.\n"
                        "Mean distance to this key from strong set:   2.5000\n\n"
                        "Breakout by hop count (only from strong set):\n"
                        " 0 hops:     0\n 1 hops:     0\n 2 hops:     1\n 3 hops:     1\n"
                        "\nFarthest keys (3 hops):\n  00000000 00000010\n");
}

TEST(KeyReport, MemberWithRepeatedSignaturesAndFarMembers) {
    // Key 0 signed by 1 twice; members at 30 hops and beyond share the last row.
    key_graph g = graph_of(2, {{1, 0}, {1, 0}, {0, 1}});
    set_results s{{0, 0}, 0, 2, {1, 1}, 2};
    key_stats stats;
    stats.distance_total = 12345;
    stats.hop_counts[0] = 1;
    stats.hop_counts[HOP_LIMIT] = 7;
    stats.max_hops = 41;
    stats.farthest_keys = {0, 1};
    std::string text;
    format_key_report(text, g, s, 0, stats);
    std::string rows;
    for (int h = 0; h < HOP_LIMIT; ++h) {
        char row[32];
        std::snprintf(row, sizeof row, "%2d hops: %5d\n", h, h == 0 ? 1 : 0);
        rows += row;
    }
    rows += "30 hops:     7\n";
    EXPECT_EQ(text, "KeyID 00000000 00000010\n\n" + std::string(REPORT_PREAMBLE) +
                        "Signatures to this key:\n  00000000 00000011\n  00000000 00000011\n"
                        "Total: 2 signatures to this id from this set\n\n"
                        "Signatures from this key:\n  00000000 00000011\n"
                        "Total: 1 signatures from this id to this set\n\n"
                        "This key is in the strong set.\n"
                        "Mean distance to this key from strong set: 6172.5000\n\n"
                        "Breakout by hop count (only from strong set):\n" +
                        rows +
                        "\nFarthest keys (30 hops):\n  00000000 00000010\n  00000000 00000011\n");
}

TEST(KeyReport, Paths) {
    run_settings settings;
    EXPECT_EQ(report_path(settings, 0x1A2B3C4D), "output/1A/1A2B3C4D");
    EXPECT_EQ(report_directory(settings, 0x0000ABCD), "output/00");
    EXPECT_EQ(report_path(settings, 0x0000ABCD), "output/00/0000ABCD");
    settings.use_subdirs = 0;
    settings.output_dir = "a/b/";
    EXPECT_EQ(report_path(settings, 0x0000ABCD), "a/b/0000ABCD");
    EXPECT_EQ(report_directory(settings, 0x0000ABCD), "a/b/");
}
