#include "command_line.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct parsed {
    wrapper_settings s;
    parse_outcome outcome;
    std::string message;
};

// Parses "nimvara" followed by the arguments; the vector outlives the
// settings, which borrow from it.
parsed parse(std::vector<std::string>& arguments) {
    arguments.insert(arguments.begin(), "nimvara");
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    static std::vector<char*> keep;
    keep = argv;
    parsed p;
    p.outcome = parse_arguments(keep.data(), p.s);
    char text[256];
    describe_parse_failure(p.outcome, text, sizeof text);
    p.message = text;
    return p;
}

// The message of a refusal, "" on success, "usage" for the help text.
std::string verdict(std::vector<std::string> arguments) {
    parsed p = parse(arguments);
    if (p.outcome.status == PARSE_USAGE) return "usage";
    return p.message;
}

TEST(CommandLine, AcceptanceTablePerMode) {
    struct row {
        const char* argument;
        const char* wrap;
        const char* version;
        const char* file;
        const char* print;
    };
    const row table[] = {
        {"-V", "refused", "refused", "refused", "refused"},
        {"--file", "refused", "refused", "refused", "refused"},
        {"-P", "refused", "refused", "refused", "refused"},
        {"-h", "usage", "usage", "usage", "usage"},
        {"--help", "usage", "usage", "usage", "usage"},
        {"-v", "", "refused", "", ""},
        {"--interactive", "", "refused", "", ""},
        {"-a", "", "refused", "", ""},
        {"-c", "refused", "refused", "", "refused"},
        {"--check-exit-code", "refused", "refused", "", "refused"},
        {"-", "refused", "refused", "", "refused"},
        {"-x", "refused", "refused", "refused", "refused"},
    };
    for (const row& r : table) {
        const std::string mode_options[] = {"", "-V", "-F", "-P"};
        const char* expected[] = {r.wrap, r.version, r.file, r.print};
        for (int m = 0; m < 4; ++m) {
            std::vector<std::string> arguments;
            // In wrap mode, something must come first, or a mode option
            // would choose its mode.
            arguments.push_back(m == 0 ? "-v" : mode_options[m]);
            arguments.push_back(r.argument);
            // Something that completes each mode's command line.
            if (m == 0) arguments.push_back("gpg");
            if (m == 2) arguments.push_back("cmds");
            std::string want = expected[m];
            if (want == "refused") want = "unrecognized option '" + std::string(r.argument) + "'";
            EXPECT_EQ(verdict(arguments), want) << mode_options[m] << " " << r.argument;
        }
    }
}

// What a user sees of each refusal (message and status) is tested on the
// built program (tests/command_line_blackbox_test.sh); here, the parsing.

TEST(CommandLine, OptionsWithValues) {
    EXPECT_EQ(verdict({"-p", "f", "gpg"}), "");
    EXPECT_EQ(verdict({"-o", "--x", "gpg"}), "");
    EXPECT_EQ(verdict({"-F", "-o", "--x", "c"}), "");
    EXPECT_EQ(verdict({"-P", "-p", "f"}), "");
    EXPECT_EQ(verdict({"-V", "-p", "f"}), "unrecognized option '-p'");
    EXPECT_EQ(verdict({"--option-name"}), "-o/--option-name expects a file name");
    // The long and the short form are one option.
    EXPECT_EQ(verdict({"-p", "x", "--passphrase-file", "y", "gpg"}),
              "-p/--passphrase-file specified more than once");
    // The value is taken whatever it looks like.
    EXPECT_EQ(verdict({"-p", "-h", "gpg"}), "");
    EXPECT_EQ(verdict({"-o", "-V", "gpg"}), "");
}

TEST(CommandLine, StandardInputAtMostOnce) {
    EXPECT_EQ(verdict({"-F", "-", "--", "-"}), "-F/--file used stdin although already used before");
    EXPECT_EQ(verdict({"-p", "-", "gpg"}), "");
}

TEST(CommandLine, FinalChecks) {
    EXPECT_EQ(verdict({"-v", "-i", "-a"}), "no gpg command specified");
    EXPECT_EQ(verdict({"-P", "--"}), "");
    EXPECT_EQ(verdict({"-V", "ignored", "-v"}), "");
}

TEST(CommandLine, CommandStartsAtTheFirstOperand) {
    std::vector<std::string> a = {"-v", "gpg", "-h", "-V", "--"};
    parsed p = parse(a);
    ASSERT_EQ(p.outcome.status, PARSE_OK);
    ASSERT_NE(p.s.command_argv, nullptr);
    EXPECT_STREQ(p.s.command_argv[0], "gpg");
    EXPECT_STREQ(p.s.command_argv[3], "--");
    EXPECT_EQ(p.s.command_argv[4], nullptr);
    EXPECT_EQ(p.s.verbosity, 1);
    EXPECT_EQ(p.s.check_exit_code, 1);
    EXPECT_STREQ(p.s.option_name, "--passphrase-fd");
    EXPECT_STREQ(p.s.self_path, "nimvara");

    std::vector<std::string> b = {"--", "-V"};
    parsed q = parse(b);
    ASSERT_EQ(q.outcome.status, PARSE_OK);
    EXPECT_EQ(q.s.mode, MODE_WRAP);
    EXPECT_STREQ(q.s.command_argv[0], "-V");
}

TEST(CommandLine, FileModeMixesOptionsAndNames) {
    std::vector<std::string> a = {"-F", "one", "-v", "two", "--", "-c"};
    parsed p = parse(a);
    ASSERT_EQ(p.outcome.status, PARSE_OK);
    EXPECT_EQ(p.s.mode, MODE_FILE);
    ASSERT_EQ(p.s.file_count, 3);
    EXPECT_STREQ(p.s.files[0], "one");
    EXPECT_STREQ(p.s.files[1], "two");
    EXPECT_STREQ(p.s.files[2], "-c");
    EXPECT_EQ(p.s.verbosity, 1);
    EXPECT_EQ(p.s.check_exit_code, 0);

    std::vector<std::string> c = {"-F", "x", "-c"};
    EXPECT_EQ(parse(c).s.check_exit_code, 1);
    std::vector<std::string> d = {"-P"};
    EXPECT_EQ(parse(d).s.check_exit_code, 1);
    std::vector<std::string> e = {"-V"};
    EXPECT_EQ(parse(e).s.check_exit_code, 1);
}

TEST(CommandLine, BlankOutKeepsTheLength) {
    char text[] = "nimvara";
    blank_out(text);
    EXPECT_STREQ(text, "       ");
}

} // namespace
