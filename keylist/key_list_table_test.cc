#include "key_list_table.h"
#include "test_listings.h"

#include <gtest/gtest.h>

namespace {

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
