#include "command_words.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// The built vector joined with spaces, or the refusal.
std::string built(std::vector<std::string> command, const char* option = "--passphrase-fd") {
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (auto& word : command)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const char* words[COMMAND_WORD_SLOTS];
    switch (build_command_words(argv.data(), option, "7", words)) {
    case WORDS_TOO_MANY:
        return "<too many>";
    case WORDS_OPTION_PRESENT:
        return "<present>";
    case WORDS_OK:
        break;
    }
    std::string out;
    for (int i = 0; words[i] != nullptr; ++i)
        out += (i ? " " : "") + std::string(words[i]);
    return out;
}

TEST(CommandWords, InsertionPoint) {
    EXPECT_EQ(built({"gpg"}), "gpg --passphrase-fd 7");
    EXPECT_EQ(built({"gpg", "-d", "f"}), "gpg --passphrase-fd 7 -d f");
    EXPECT_EQ(built({"gpg", "--homedir", "h"}), "gpg --homedir h --passphrase-fd 7");
    EXPECT_EQ(built({"gpg", "--homedir"}), "gpg --homedir --passphrase-fd 7");
    EXPECT_EQ(built({"gpg", "--homedir", "h", "--options=o", "-d", "f"}),
              "gpg --homedir h --options=o --passphrase-fd 7 -d f");
    EXPECT_EQ(built({"gpg", "--options", "--homedir", "-d"}),
              "gpg --options --homedir --passphrase-fd 7 -d");
    EXPECT_EQ(built({"gpg", "--homedir=", "-d"}), "gpg --homedir= --passphrase-fd 7 -d");
    EXPECT_EQ(built({"gpg", "--homedirs", "x"}), "gpg --passphrase-fd 7 --homedirs x");
    // The first word is passed without a look, whatever it is.
    EXPECT_EQ(built({"--homedir", "x"}), "--homedir --passphrase-fd 7 x");
}

TEST(CommandWords, ExistingOptionRefusedByExactComparison) {
    EXPECT_EQ(built({"--passphrase-fd"}), "<present>");
    EXPECT_EQ(built({"gpg", "--homedir", "--passphrase-fd"}), "<present>");
    EXPECT_EQ(built({"gpg", "-d", "f", "--passphrase-fd"}), "<present>");
    EXPECT_EQ(built({"gpg", "--passphrase-fd=3"}), "gpg --passphrase-fd 7 --passphrase-fd=3");
    EXPECT_EQ(built({"gpg", "--passphrase-fd"}, "--pw"), "gpg --pw 7 --passphrase-fd");
    EXPECT_EQ(built({"gpg", "--pw"}, "--pw"), "<present>");
}

TEST(CommandWords, WordLimit) {
    std::vector<std::string> command(COMMAND_WORDS_MAX, "w");
    EXPECT_NE(built(command), "<too many>");
    command.back() = "--passphrase-fd"; // the last word allowed is still checked
    EXPECT_EQ(built(command), "<present>");
    command.back() = "w";
    command.push_back("--passphrase-fd"); // over the limit: the count is checked first
    EXPECT_EQ(built(command), "<too many>");
    // All-homedir commands never insert before the end and still fit.
    std::vector<std::string> homedirs(COMMAND_WORDS_MAX, "--homedir");
    EXPECT_TRUE(built(homedirs).ends_with("--homedir --passphrase-fd 7"));
}

} // namespace
