#include "test_listings.h"

#include <gtest/gtest.h>

namespace {

TEST(KeyBlock, KeepsOtherKeysCertificationsOncePerSignerSortedById) {
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

TEST(KeyBlock, SignaturesThatAreNotCertificationsOfAUserIdDoNotCount) {
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

TEST(KeyBlock, RevokedCertificationsDropUntilTheSignerCertifiesAgain) {
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

TEST(KeyBlock, RevokedKeysAreLeftOutButTheirCertificationsStay) {
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

TEST(KeyBlock, ExpiredKeysAndSignaturesAreKeptUnlessADateIsGiven) {
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

TEST(KeyBlock, BadSignaturesAndIsoTimes) {
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

} // namespace
