#include "listing_parser.h"
#include "test_listings.h"

#include <gtest/gtest.h>

namespace {

TEST(ListingParser, LowerCaseIdsAreWrittenInUpperCase) {
    outcome r = build(pub("aaaa00000000000a") + uid("a") + sig("bbbb00000000000b", "10x", "1"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(A) + s(B));
}

TEST(ListingParser, UnknownRecordsAreSkippedAnywhere) {
    const std::string others = "tru::1:1:0:3:1:5\ncfg:version:2.2.40\ngrp:::::::::ABC:\n"
                               "fp2:::::::::X:\nrvk:::1::::::F:80x:\nrvs:x\npkd:0:1024:B6:\n"
                               "tfs:1:2:3\nspk:2:0:4:%00\nfuture-record:1:2\nzz\n\n";
    outcome r = build(others + pub(A) + others + uid("a") + others + sig(B, "10x", "1") + others);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(A) + s(B));
}

TEST(ListingParser, MalformedLinesAreReportedWithTheirLineNumbers) {
    struct bad_case {
        std::string listing;
        uint64_t line;
        std::string message;
    };
    const std::string good = pub(A) + uid("a"); // lines 1 and 2
    const bad_case cases[] = {
        {sig(B, "10x", "1"), 1, "sig record before the first pub record"},
        {"tru::1\n" + uid("a"), 2, "uid record before the first pub record"},
        {good + sig("BBBB0000000000B", "10x", "1"), 3,
         "key id of the sig record is not 16 hexadecimal digits"},
        {good + sig("BBBB00000000000G", "10x", "1"), 3,
         "key id of the sig record is not 16 hexadecimal digits"},
        {good + rev("", "30x", "1"), 3, "key id of the rev record is not 16 hexadecimal digits"},
        {good + pub("AAAA00000000000AA"), 3,
         "key id of the pub record is not 16 hexadecimal digits"},
        {good + sig(B, "1x", "1"), 3,
         "signature class of the sig record is not two hexadecimal digits"},
        {good + sig(B, "", "1"), 3,
         "signature class of the sig record is not two hexadecimal digits"},
        {good + "sig:::22:" + B + "\n", 3,
         "signature class of the sig record is not two hexadecimal digits"},
        {good + sig(B, "10x", "yesterday"), 3, "creation time of the sig record is not a time"},
        {good + sig(B, "10x", "1", "-5"), 3, "expiration time of the sig record is not a time"},
        {good + "pub:-:1:1:" + std::string(C) + ":20201301T000000:\n", 3,
         "creation time of the pub record is not a time"},
        {good + "x" + std::string(LISTING_LINE_MAX, 'y') + "\n", 3,
         "line longer than 1048576 bytes"},
        {good + std::string(LISTING_LINE_MAX + 1, 'y'), 3, "line longer than 1048576 bytes"},
    };
    for (const bad_case& c : cases) {
        for (size_t chunk : {size_t{0}, size_t{7}, size_t{65536}}) {
            outcome r = build(c.listing, {}, chunk);
            EXPECT_FALSE(r.ok) << c.message;
            EXPECT_EQ(r.error_line, c.line) << c.message << " (chunk " << chunk << ")";
            EXPECT_EQ(r.error, c.message) << "chunk " << chunk;
        }
    }
    // A line of exactly the longest length is fine.
    outcome r =
        build(good + "x" + std::string(LISTING_LINE_MAX - 1, 'y') + "\n" + sig(B, "10x", "1"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(A) + s(B));
}

TEST(ListingParser, CrLfLineEndsAndAMissingLastLineEndAreAccepted) {
    std::string listing = pub(A) + uid("a") + sig(B, "10x", "1") + sig(C, "10x", "1");
    std::string crlf;
    for (char c : listing) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    EXPECT_EQ(build(crlf).list, p(A) + s(B) + s(C));
    listing.pop_back();
    EXPECT_EQ(build(listing).list, p(A) + s(B) + s(C));
    crlf.pop_back();
    EXPECT_EQ(build(crlf).list, p(A) + s(B) + s(C));
}

TEST(ListingParser, EveryChunkSizeGivesTheSameResult) {
    const std::string listing = "tru::1:1:0:3:1:5\r\n" + pub(A) + uid("a") + sig(A, "13x", "1") +
                                sig(C, "10x", "5") + rev(C, "30x", "6") + sig(D, "10x", "7") +
                                pub(B, "r") + uid("b") + sig(A, "10x", "1") + pub(C) + uid("c") +
                                sig(B, "10x", "1") + sig(A, "10x", "1") + "uat:-::::1::H::1 9:\n" +
                                sig(D, "10x", "1") + pub(A) + uid("again") + sig(B, "10x", "9");
    const outcome whole = build(listing);
    ASSERT_TRUE(whole.ok) << whole.error;
    ASSERT_EQ(whole.list, p(A) + s(B) + s(D) + p(C) + s(A) + s(B) + s(D));
    for (size_t chunk = 1; chunk <= listing.size(); ++chunk) {
        const outcome split = build(listing, {}, chunk);
        ASSERT_TRUE(split.ok) << "chunk " << chunk << ": " << split.error;
        ASSERT_EQ(split.list, whole.list) << "chunk " << chunk;
        ASSERT_EQ(split.counts.dropped_revoked, whole.counts.dropped_revoked);
    }
    // The same holds for where an error is found.
    const std::string bad = listing + sig("nothex", "10x", "1");
    for (size_t chunk = 1; chunk <= bad.size(); ++chunk) {
        const outcome split = build(bad, {}, chunk);
        ASSERT_FALSE(split.ok);
        ASSERT_EQ(split.error_line, 20u) << "chunk " << chunk;
    }
}

TEST(ListingParser, AfterAnErrorNothingMoreIsTaken) {
    listing_parser parser;
    int keys = 0;
    parser.sink = [&keys](uint64_t, bool, const std::vector<uint64_t>&) { ++keys; };
    const std::string bad = sig(B, "10x", "1");
    EXPECT_FALSE(feed_listing(parser, bad.data(), bad.size()));
    const std::string good = pub(A) + uid("a") + sig(B, "10x", "1");
    EXPECT_FALSE(feed_listing(parser, good.data(), good.size()));
    EXPECT_FALSE(finish_listing(parser));
    EXPECT_EQ(keys, 0);
    EXPECT_EQ(parser.error_line, 1u);
}

} // namespace
