#include "keygen_settings.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

struct parse_result {
    bool ok;
    keygen_settings settings;
    std::string error;
};

parse_result parse(std::initializer_list<const char*> words) {
    std::vector<std::string> storage{"keygen"};
    storage.insert(storage.end(), words.begin(), words.end());
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (auto& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    parse_result r{false, {}, {}};
    r.ok = parse_keygen_options(static_cast<int>(storage.size()), argv.data(), r.settings, r.error);
    return r;
}

} // namespace

TEST(KeygenOptions, ReadsShortAndLongForms) {
    auto r = parse({"-s",
                    "99",
                    "-n",
                    "160000",
                    "-m",
                    "3.5",
                    "-o",
                    "out.keys",
                    "--reciprocal",
                    "0.8",
                    "--tail-fraction=0.3",
                    "--island-fraction",
                    "0.1",
                    "--max-chain",
                    "40",
                    "--dup-keys",
                    "0.01",
                    "--dup-sigs",
                    "0.02",
                    "--self-sigs",
                    "0.03",
                    "--unknown-signers",
                    "0.04",
                    "--lower-case",
                    "0.05",
                    "--low-collisions",
                    "0.06",
                    "--bad-records",
                    "0.07"});
    ASSERT_TRUE(r.ok) << r.error;
    const keygen_settings& s = r.settings;
    EXPECT_EQ(s.seed, 99U);
    EXPECT_EQ(s.key_count, 160000U);
    EXPECT_DOUBLE_EQ(s.mean_signatures, 3.5);
    EXPECT_EQ(s.output_path, "out.keys");
    EXPECT_DOUBLE_EQ(s.reciprocal, 0.8);
    EXPECT_DOUBLE_EQ(s.tail_fraction, 0.3);
    EXPECT_DOUBLE_EQ(s.island_fraction, 0.1);
    EXPECT_EQ(s.max_chain, 40U);
    EXPECT_DOUBLE_EQ(s.dup_keys, 0.01);
    EXPECT_DOUBLE_EQ(s.dup_sigs, 0.02);
    EXPECT_DOUBLE_EQ(s.self_sigs, 0.03);
    EXPECT_DOUBLE_EQ(s.unknown_signers, 0.04);
    EXPECT_DOUBLE_EQ(s.lower_case, 0.05);
    EXPECT_DOUBLE_EQ(s.low_collisions, 0.06);
    EXPECT_DOUBLE_EQ(s.bad_records, 0.07);
    EXPECT_FALSE(s.help);

    auto attached = parse({"-n500", "-s16", "--seed=3", "-h"});
    ASSERT_TRUE(attached.ok) << attached.error;
    EXPECT_EQ(attached.settings.key_count, 500U);
    EXPECT_EQ(attached.settings.seed, 3U); // the last of several counts
    EXPECT_TRUE(attached.settings.help);
}

TEST(KeygenOptions, RejectsBadValuesWithAReason) {
    struct bad_case {
        std::initializer_list<const char*> words;
        const char* mentions;
    };
    const bad_case cases[] = {
        {{"-n", "12x"}, "-n"},
        {{"-n", "-5"}, "invalid value '-5' for -n (a whole number from 0 to 2147483647)"},
        {{"-n", "4294967296"}, "-n"},
        {{"-s", " 1"}, "-s"},
        {{"-m", "abc"}, "invalid value 'abc' for -m (a number from 0 to 1000000)"},
        {{"--mean=1e7"}, "invalid value '1e7' for --mean"},
        {{"--dup-keys", "0x0.8"}, "invalid value '0x0.8' for --dup-keys (a probability"},
        {{"-m", "-1"}, "-m"},
        {{"--reciprocal", "1.5"}, "--reciprocal"},
        {{"--dup-sigs", "nan"}, "--dup-sigs"},
        {{"--max-chain", "0"}, "--max-chain"},
        {{"-o", ""}, "-o"},
        {{"--tail-fraction", "0.7", "--island-fraction", "0.5"}, "add up"},
        {{"-q"}, "-q"},
        {{"--bogus"}, "--bogus"},
        {{"-n"}, "-n"},
        {{"--mean"}, "--mean"},
        // An operand ends the options, as with POSIX getopt; it is not ours.
        {{"extra", "-n", "5"}, "extra operand 'extra'"},
    };
    for (const auto& c : cases) {
        auto r = parse(c.words);
        EXPECT_FALSE(r.ok) << *c.words.begin();
        EXPECT_NE(r.error.find(c.mentions), std::string::npos) << r.error;
    }
}
