#include "names_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

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
    // cppcheck-suppress resourceLeak ; closed at once: only the name is wanted
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

// A line over the limit keeps its head, without a sequence split by the cut,
// and gives one warning naming it; an endless line of NULs fails at once.
TEST(ReadNamesFile, CapsLongLines) {
    char path[] = "/tmp/names_file_test.XXXXXX";
    const int fd = mkstemp(path);
    // cppcheck-suppress resourceLeak ; closed at once: only the name is wanted
    ASSERT_GE(fd, 0);
    ASSERT_EQ(close(fd), 0);
    // 16 + 1 + 4077 bytes, then a 3-byte character across the limit.
    const std::string head = "00000000000000A1\t" + std::string(NAMES_LINE_MAX - 19, 'x');
    std::ofstream(path, std::ios::binary)
        << head << "\xE2\x82\xAC" << std::string(100000, 'y') << "\n00000000000000B2\tBob\n";
    key_names names;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(read_names_file(path, names, error, [&](const std::string& w) {
        warnings.push_back(w);
    })) << error;
    EXPECT_EQ(names.at(0xA1), head.substr(17));
    EXPECT_EQ(names.at(0xB2), "Bob");
    ASSERT_EQ(warnings.size(), 1U);
    EXPECT_EQ(warnings[0],
              std::string(path) + ":1: line longer than 4096 bytes; the rest of it is left out");
    std::remove(path);

    EXPECT_FALSE(read_names_file("/dev/zero", names, error));
    EXPECT_EQ(error, "/dev/zero:1: expected 16 hex digits and a tab");
}
