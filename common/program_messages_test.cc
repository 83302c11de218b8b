#include "program_messages.h"

#include <gtest/gtest.h>

#include <csignal>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// What getopt_long's error means for these words, as getopt_error_text words it.
std::string first_error(std::initializer_list<const char*> words) {
    static const option long_options[] = {
        {"json", no_argument, nullptr, 'j'},
        {"paths", required_argument, nullptr, 'n'},
        {nullptr, 0, nullptr, 0},
    };
    std::vector<std::string> storage{"prog"};
    storage.insert(storage.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    optind = 0;
    opterr = 0;
    int word = 1;
    int c;
    while ((c = getopt_long(static_cast<int>(storage.size()), argv.data(), "+:vjn:", long_options,
                            nullptr)) != -1) {
        if (c == '?' || c == ':') return getopt_error_text(c, argv.data(), word, long_options);
        word = optind;
    }
    return "";
}

} // namespace

TEST(ProgramMessages, GetoptErrorsNameTheOptionAsWritten) {
    const struct {
        std::initializer_list<const char*> words;
        const char* text;
    } cases[] = {
        {{"-x"}, "unknown option '-x'"},
        {{"-vxj"}, "unknown option '-x'"},
        {{"--json", "-vx"}, "unknown option '-x'"},
        {{"--bogus=1"}, "unknown option '--bogus'"},
        {{"--json=1"}, "option '--json' takes no value"},
        {{"--js=1"}, "option '--js' takes no value"},
        {{"-v", "--paths"}, "option '--paths' needs a value"},
        {{"-vn"}, "option '-n' needs a value"},
        {{"-n", "5", "file", "-x"}, ""}, // options end at the first operand
    };
    for (const auto& c : cases)
        EXPECT_EQ(first_error(c.words), c.text) << *c.words.begin();
}

TEST(ProgramMessages, OutOfMemoryOnAnyThreadEndsWithTheLine) {
    set_program_name("prog");
    EXPECT_EXIT(
        {
            end_on_out_of_memory();
            std::thread worker([] { throw std::bad_alloc(); });
            worker.join();
        },
        testing::ExitedWithCode(1), "^prog: out of memory\n$");
    // Any other exception keeps the default end.
    EXPECT_EXIT(
        {
            end_on_out_of_memory();
            std::thread worker([] { throw std::runtime_error("other"); });
            worker.join();
        },
        testing::KilledBySignal(SIGABRT), "other");
}
