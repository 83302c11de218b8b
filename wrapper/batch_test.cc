#include "batch.h"

#include "settings.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string word(const char* text) {
    char buffer[64];
    return shell_word(text, buffer, sizeof buffer);
}

TEST(BatchCommand, OrdinaryPathsAndOptionNamesStayAsTheyAre) {
    EXPECT_EQ(word("/usr/bin/nimvara"), "/usr/bin/nimvara");
    EXPECT_EQ(word("./build/wrapper/nimvara"), "./build/wrapper/nimvara");
    EXPECT_EQ(word("--passphrase-fd"), "--passphrase-fd");
}

TEST(BatchCommand, OtherWordsAreQuotedForTheShell) {
    EXPECT_EQ(word("/opt/my tools/nimvara"), "'/opt/my tools/nimvara'");
    EXPECT_EQ(word("it's"), "'it'\\''s'");
    EXPECT_EQ(word("$(x);`y`"), "'$(x);`y`'");
    EXPECT_EQ(word(""), "''");
    char tiny[4];
    EXPECT_EXIT(shell_word("a b", tiny, sizeof tiny), testing::ExitedWithCode(1),
                "^nimvara: do_snprintf\\(\\) size exceeded\n$");
}

TEST(BatchCommand, TextAroundTheLine) {
    settings = wrapper_settings{};
    settings.self_path = "nimvara";
    settings.verbosity = 50;
    char text[512];
    format_batch_command(text, sizeof text, "gpg -d 'a b'");
    std::string want = "exec nimvara";
    for (int i = 0; i < 42; ++i)
        want += " -v";
    want += " -o --passphrase-fd -- gpg -d 'a b'";
    EXPECT_EQ(text, want);
    settings = wrapper_settings{};
}

} // namespace
