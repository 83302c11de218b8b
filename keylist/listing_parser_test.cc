#include "key_list_table.h"
#include "listing_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Key ids used in the listings below.
const char A[] = "AAAA00000000000A";
const char B[] = "BBBB00000000000B";
const char C[] = "CCCC00000000000C";
const char D[] = "DDDD00000000000D";

std::string pub(const std::string& id, const std::string& validity = "-",
                const std::string& created = "1500000000", const std::string& expires = "") {
    return "pub:" + validity + ":255:22:" + id + ":" + created + ":" + expires +
           "::u:::scSC:::::ed25519:::0:\n";
}
std::string uid(const std::string& name) {
    return "uid:-::::1500000000::HASH::" + name + "::::::::::0:\n";
}
std::string sig(const std::string& signer, const std::string& cls, const std::string& created,
                const std::string& expires = "", const std::string& validity = "") {
    return "sig:" + validity + "::22:" + signer + ":" + created + ":" + expires +
           ":::someone:" + cls + "::FPR:::8:\n";
}
std::string rev(const std::string& signer, const std::string& cls, const std::string& created) {
    return "rev:::22:" + signer + ":" + created + "::::someone:" + cls + ",00::FPR:::8:\n";
}

struct outcome {
    bool ok = false;
    std::string list; // the key list as written, one record per line
    uint64_t error_line = 0;
    std::string error;
    keylist_counts counts;
};

// Runs a listing through the parser and the table in chunks of chunk bytes
// (0: all at once) and returns the key list it gives.
outcome build(const std::string& listing, keylist_rules rules = {}, size_t chunk = 0) {
    key_list_table table;
    listing_parser parser;
    parser.rules = rules;
    parser.sink = [&table](uint64_t id, bool kept, const std::vector<uint64_t>& signers) {
        add_key_block(table, id, kept, signers);
    };
    outcome r;
    if (chunk == 0) chunk = listing.size() + 1;
    bool ok = true;
    for (size_t at = 0; ok && at < listing.size(); at += chunk)
        ok = feed_listing(parser, listing.data() + at, std::min(chunk, listing.size() - at));
    if (ok) ok = finish_listing(parser);
    r.ok = ok;
    r.error_line = parser.error_line;
    r.error = parser.error;
    r.counts = parser.counts;
    if (ok) {
        written_counts written;
        write_key_list(
            table,
            [&r](const char* data, size_t size) {
                r.list.append(data, size);
                return true;
            },
            written);
    }
    return r;
}

std::string p(const std::string& id) {
    return "p" + id + "\n";
}
std::string s(const std::string& id) {
    return "s" + id + "\n";
}

TEST(ListingParser, KeepsOtherKeysCertificationsOncePerSignerSortedById) {
    const std::string listing =
        "tru:o:1:1796817132:1:3:1:5\n" + pub(A) + "fpr:::::::::F:\n" + uid("a") +
        sig(A, "13x", "1500000000") + sig(C, "10x", "1500000100") + sig(B, "12x", "1500000200") +
        uid("a2") + sig(A, "13x", "1500000000") + sig(C, "11l", "1500000300") +
        "uat:-::::1500000000::HASH::1 2000::::::::::0:\n" + sig(D, "10x", "1500000400") +
        // a key only its own key signed: pruned
        pub(B) + uid("b") + sig(B, "13x", "1500000000") + pub(C) + uid("c") +
        sig(A, "10x", "1500000000");
    outcome r = build(listing);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(A) + s(B) + s(C) + s(D) + p(C) + s(A));
    EXPECT_EQ(r.counts.keys_read, 3u);
    EXPECT_EQ(r.counts.dropped_self, 3u);
}

TEST(ListingParser, LowerCaseIdsAreWrittenInUpperCase) {
    outcome r = build(pub("aaaa00000000000a") + uid("a") + sig("bbbb00000000000b", "10x", "1"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(A) + s(B));
}

TEST(ListingParser, SignaturesThatAreNotCertificationsOfAUserIdDoNotCount) {
    // A direct-key signature and a key revocation by another key on the key
    // itself, a subkey binding, and a certification-class signature listed
    // under a subkey.
    const std::string listing = pub(A) + sig(B, "1fx", "1") + rev(C, "20x", "2") + uid("a") +
                                sig(A, "13x", "1") + "sub:-:255:18:0123456789ABCDEF:1:::::e:\n" +
                                sig(A, "18x", "1") + sig(D, "10x", "3");
    outcome r = build(listing);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, "");
}

TEST(ListingParser, RevokedCertificationsDropUntilTheSignerCertifiesAgain) {
    const std::string listing =
        // B certified, then revoked: dropped. gpg lists the revocation first.
        pub(A) + uid("a") + rev(B, "30x", "200") + sig(B, "10x", "100") +
        // a revocation at the certification's own second revokes it
        pub(C) + uid("c") + sig(B, "10x", "100") + rev(B, "30x", "100") +
        // certified again after the revocation: counts
        pub(D) + uid("d") + sig(B, "10x", "100") + rev(B, "30x", "200") + sig(B, "10x", "300");
    outcome r = build(listing);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(D) + s(B));
    EXPECT_EQ(r.counts.dropped_revoked, 3u);

    // Revoked on one user id, still certified on another; a revocation by
    // someone else revokes nothing.
    r = build(pub(A) + uid("a1") + sig(B, "10x", "100") + rev(B, "30x", "200") + uid("a2") +
              sig(B, "10x", "100") + pub(C) + uid("c") + sig(B, "10x", "100") +
              rev(D, "30x", "200"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(A) + s(B) + p(C) + s(B));
}

TEST(ListingParser, RevokedKeysAreLeftOutButTheirCertificationsStay) {
    const std::string listing =
        // revoked by gpg's validity letter, with a self-made key revocation
        pub(A, "r") + rev(A, "20x", "300") + uid("a") + sig(B, "10x", "100") +
        // a key revocation by the key itself, whatever the letter says
        pub(D) + rev(D, "20x", "300") + uid("d") + sig(B, "10x", "100") +
        // A's certification of C still stands in C's list
        pub(C) + uid("c") + sig(A, "10x", "100");
    outcome r = build(listing);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(C) + s(A));
    EXPECT_EQ(r.counts.keys_revoked, 2u);
}

TEST(ListingParser, ExpiredKeysAndSignaturesAreKeptUnlessADateIsGiven) {
    const std::string listing =
        pub(A, "e", "100", "1000") + uid("a") + sig(B, "10x", "200") + // key expires at 1000
        pub(C, "-", "100") + uid("c") + sig(A, "10x", "200", "900") +  // signature expires at 900
        sig(D, "10x", "2000") +                                        // made at 2000
        pub(D, "-", "1500") + uid("d") + sig(A, "10x", "1600") +       // key made at 1500
        pub(B, "-", "100") + uid("b") + sig(A, "10x", "100") + rev(A, "30x", "1200");
    outcome r = build(listing);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(A) + s(B) + p(C) + s(A) + s(D) + p(D) + s(A));

    keylist_rules at_1100{true, 1100};
    r = build(listing, at_1100);
    ASSERT_TRUE(r.ok) << r.error;
    // A expired, C's signature from A expired and D's not yet made, D not yet
    // made (nor A's certification of it), B's revocation at 1200 not yet made.
    EXPECT_EQ(r.list, p(B) + s(A));
    EXPECT_EQ(r.counts.keys_expired, 2u);
    EXPECT_EQ(r.counts.dropped_expired, 3u);

    keylist_rules at_500{true, 500};
    r = build(listing, at_500);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(A) + s(B) + p(C) + s(A) + p(B) + s(A));
}

TEST(ListingParser, BadSignaturesAndIsoTimes) {
    const std::string listing = pub(A, "-", "20200101T000000") + uid("a") +
                                sig(B, "10x", "20200102T000000", "", "-") +
                                sig(C, "10x", "20200102T000000", "20200103T000000", "!");
    outcome r = build(listing);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(A) + s(C));
    EXPECT_EQ(r.counts.dropped_bad, 1u);
    // 2020-01-03 is 1578009600: the signature has expired at that second.
    r = build(listing, keylist_rules{true, 1578009600});
    EXPECT_EQ(r.list, "");
    r = build(listing, keylist_rules{true, 1578009599});
    EXPECT_EQ(r.list, p(A) + s(C));
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

TEST(KeyListTable, AKeyListedTwiceIsMergedIntoItsFirstPlace) {
    // A has no certification in its first block: its place is that of the
    // block that first brings one.
    const std::string listing = pub(A) + uid("a") + pub(B) + uid("b") + sig(C, "10x", "1") +
                                pub(C) + uid("c") + sig(B, "10x", "1") + pub(A) + uid("a") +
                                sig(D, "10x", "1") + pub(B) + uid("b") + sig(D, "10x", "1") +
                                sig(C, "10x", "1");
    outcome r = build(listing);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(B) + s(C) + s(D) + p(C) + s(B) + p(A) + s(D));

    // Revoked in any of its blocks, before or after: left out.
    r = build(pub(A) + uid("a") + sig(B, "10x", "1") + pub(C) + uid("c") + sig(B, "10x", "1") +
              pub(A, "r") + pub(D, "r") + pub(C) + uid("c") + sig(D, "10x", "1") + pub(D) +
              uid("d") + sig(B, "10x", "1"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.list, p(C) + s(B) + s(D));
}

TEST(KeyListTable, AWriteFailureStopsTheWriting) {
    key_list_table table;
    std::vector<uint64_t> signers;
    for (uint64_t i = 1; i <= 100000; ++i)
        signers.push_back(i);
    add_key_block(table, 7, true, signers);
    int calls = 0;
    written_counts counts;
    EXPECT_FALSE(write_key_list(
        table,
        [&calls](const char*, size_t) {
            ++calls;
            return false;
        },
        counts));
    EXPECT_EQ(calls, 1);
}

} // namespace
