#include "names_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

TEST(EscapeUserId, KeepsTextAndEscapesWhatCouldDisturbALine) {
    const struct {
        std::string raw, escaped;
    } cases[] = {
        {"Alice <alice@example.org>", "Alice <alice@example.org>"},
        {"J\xC3\xBCrgen", "J\xC3\xBCrgen"},         // valid UTF-8 kept
        {"a\tb\nc\x7f", "a\\x09b\\x0Ac\\x7F"},      // control characters
        {"back\\slash", "back\\\\slash"},           // the escape character itself
        {"latin1 \xFC", "latin1 \\xFC"},            // not UTF-8
        {"over\xC0\xAFlong", "over\\xC0\\xAFlong"}, // overlong form
        {std::string("nul\0x", 5), "nul\\x00x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(escape_user_id(c.raw), c.escaped) << c.raw;
}

TEST(ReadNamesFile, ReadsLinesAndNamesTheFaultyLine) {
    char path[] = "/tmp/names_file_test.XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(close(fd), 0);
    const auto read_with = [&](const std::string& text, key_names& names, std::string& error) {
        std::ofstream(path, std::ios::binary) << text;
        return read_names_file(path, names, error);
    };
    key_names names;
    std::string error;
    ASSERT_TRUE(read_with("00000000000000A1\tAlice\n00000000000000a1\tSecond\n"
                          "FFFFFFFFFFFFFFFF\t\n",
                          names, error))
        << error;
    EXPECT_EQ(names.at(0xA1), "Alice"); // the first name of a repeated key
    EXPECT_EQ(names.at(0xFFFFFFFFFFFFFFFFULL), "");
    for (const char* bad :
         {"00000000000000A1 Alice\n", "00000000000000G1\tx\n", "00000000000000A1\tno line end"}) {
        key_names ignored;
        EXPECT_FALSE(read_with(bad, ignored, error)) << bad;
        EXPECT_EQ(error.rfind(std::string(path) + ":1: ", 0), 0U) << error;
    }
    std::remove(path);
    EXPECT_FALSE(read_names_file(path, names, error));
}
