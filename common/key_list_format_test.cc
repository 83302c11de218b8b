#include "key_list_format.h"

#include <gtest/gtest.h>

#include <string>

TEST(KeyListFormat, WritesAndReadsOneRecord) {
    char out[RECORD_SIZE];
    put_key_list_record(out, 'p', 0x0123456789ABCDEFULL);
    EXPECT_EQ(std::string(out, RECORD_SIZE), "p0123456789ABCDEF\n");
    key_list_record r;
    ASSERT_TRUE(read_key_list_record(out, r));
    EXPECT_EQ(r.type, 'p');
    EXPECT_EQ(r.id, 0x0123456789ABCDEFULL);
    EXPECT_TRUE(is_written_form(out));

    ASSERT_TRUE(read_key_list_record("sffffffffffffffff\n", r));
    EXPECT_EQ(r.id, UINT64_MAX);
    EXPECT_FALSE(is_written_form("sffffffffffffffff\n")); // lower case is read, never written
    for (const char* bad : {"x0123456789ABCDEF\n", "p0123456789ABCDEF\r", "p0123456789ABCDEG\n",
                            "p 123456789ABCDEF\n", "p-123456789ABCDEF\n"}) {
        key_list_record left{'?', 7};
        EXPECT_FALSE(read_key_list_record(bad, left)) << bad;
        EXPECT_EQ(left.type, '?');
    }
}
