// The forms a key may be named in, and the errors for the others.
#include "key_name.h"
#include "path_test_graphs.h"

#include <gtest/gtest.h>

namespace {

TEST(KeyName, FormsAndErrors) {
    // Two keys share their last 8 digits; the last key repeats the first id.
    std::vector<uint64_t> ids{0x0123456789ABCDEFULL, 0xFEDCBA9889ABCDEFULL, 0x1111111122222222ULL,
                              0x0123456789ABCDEFULL};
    path_index ix = index_of_text(key_list_text(ids, {{0, 1}}));
    struct name_case {
        const char* name;
        int32_t key;       // -1: an error
        const char* error; // a part of the error
    };
    const name_case cases[] = {
        {"0123456789ABCDEF", 0, ""},
        {"0123456789abcdef", 0, ""},
        {"0x0123456789abcdef", 0, ""},
        {"AAAABBBBCCCCDDDDEEEE0123456789ABCDEF", -1, "malformed"}, // 36 digits
        {"AAAABBBBCCCCDDDDEEEEFFFF0123456789ABCDEF", 0, ""},       // fingerprint
        {"aaaabbbbccccddddeeeeffff1111111122222222", 2, ""},
        {"AAAABBBBCCCCDDDDEEEEFFFG0123456789ABCDEF", -1, "malformed"},
        {"22222222", 2, ""},
        {"89abcdef", -1,
         "ambiguous key 89ABCDEF: 2 keys end in it: 0123456789ABCDEF FEDCBA9889ABCDEF"},
        {"33333333", -1, "unknown key 33333333"},
        {"3333333333333333", -1, "unknown key 3333333333333333"},
        {"", -1, "malformed"},
        {"0x", -1, "malformed"},
        {"2222222", -1, "malformed"},
        {"012345678 9ABCDEF", -1, "malformed"},
        {"01234567-9ABCDEF", -1, "malformed"},
        {"+123456789ABCDEF", -1, "malformed"},
        {"\x1b[31m", -1, "\\x1B[31m"}, // shown escaped
        // Fingerprints pasted as gpg prints them.
        {"AAAA BBBB CCCC DDDD EEEE  FFFF 0123 4567 89AB CDEF", 0, ""},
        {" aaaa bbbb cccc dddd eeee ffff 1111 1111 2222 2222\t", 2, ""},
        {"AAAA BBBB CCCC DDDD EEEE FFFF 0123 4567 89AB", -1, "malformed"},        // 9 groups
        {"AAAA BBBB CCCC DDDD EEEE FFFF 0123 4567 89AB CDEF 0", -1, "malformed"}, // and more
        {"AAAA BBBB CCCC DDDD EEEE FFFF 0123 4567 89ABC DEF", -1, "malformed"},
    };
    for (const name_case& c : cases) {
        key_choice choice = find_named_key(ix, c.name);
        EXPECT_EQ(choice.key, c.key) << c.name;
        EXPECT_NE(choice.error.find(c.error), std::string::npos) << c.name << ": " << choice.error;
        EXPECT_EQ(choice.error.empty(), c.key >= 0) << c.name;
    }
}

TEST(KeyName, SplitIntoNames) {
    const std::string fp = "AAAA BBBB CCCC DDDD EEEE  FFFF 0123 4567 89AB CDEF";
    const std::string joined = "AAAABBBBCCCCDDDDEEEEFFFF0123456789ABCDEF";
    struct split_case {
        std::string line;
        std::vector<std::string> names;
    };
    const split_case cases[] = {
        {"0123456789ABCDEF\t89abcdef ", {"0123456789ABCDEF", "89abcdef"}},
        {fp + " " + fp, {joined, joined}},
        {fp + "\t0123456789ABCDEF\r", {joined, "0123456789ABCDEF"}},
        {"22222222 " + fp, {"22222222", joined}},
        // Eleven groups: ten from the left make a name, the last stays alone.
        {"AAAA " + fp, {"AAAA" + joined.substr(0, 36), "CDEF"}},
        {"AAAA BBBB", {"AAAA", "BBBB"}},
        {"", {}},
    };
    for (const split_case& c : cases)
        EXPECT_EQ(split_key_names(c.line), c.names) << c.line;
}

TEST(KeyName, PrintedForms) {
    EXPECT_EQ(printed_key_id(0x00AB00CD0000EF01ULL), "00AB00CD 0000EF01");
    EXPECT_EQ(hex_key_id(0x00AB00CD0000EF01ULL), "00AB00CD0000EF01");
}

} // namespace
