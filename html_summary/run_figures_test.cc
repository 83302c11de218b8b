#include "run_figures.h"

#include "line_reader.h"
#include "test_dirs.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(ReadSummaryFiles, SmallOutputDirectory) {
    scratch_dir d;
    write_small_output(d.path);
    run_figures f;
    read_status(d.dir(), f);
    read_other(d.dir(), f);
    std::vector<key_id> ranked = {{0xC, 0xCC}, {0xA, 0xAA}, {0xD, 0xDD}};
    std::vector<char> in_strong;
    read_othersets(d.dir(), f, ranked, in_strong);
    EXPECT_EQ(f.keys, 3);
    EXPECT_EQ(f.signatures, 3);
    EXPECT_EQ(f.reachable_size, 3);
    EXPECT_EQ(f.strong_set_size, 2);
    EXPECT_EQ(f.average_mean, 8333);
    EXPECT_EQ(f.set_count, 2);
    EXPECT_EQ(f.single_key_sets, 1);
    EXPECT_EQ(in_strong, (std::vector<char>{0, 1, 0}));
}

// The first of two largest sets is the strong set, as the analyser chooses.
TEST(ReadSummaryFiles, FirstLargestSetIsTheStrongSet) {
    scratch_dir d;
    write_file(d.path / "othersets.txt",
               "00000000 00000001\n*** 1 keys in this strongly connected set\n\n"
               "00000000 00000002\n*** 1 keys in this strongly connected set\n\n");
    run_figures f;
    f.strong_set_size = 1;
    std::vector<char> in_strong;
    read_othersets(d.dir(), f, {{0, 2}, {0, 1}}, in_strong);
    EXPECT_EQ(in_strong, (std::vector<char>{0, 1}));
}

TEST(ReadSummaryFiles, EmptyKeyList) {
    scratch_dir d;
    write_file(d.path / "status.txt",
               "Importing pass 1 (keys)...\ndone.\n0 keys imported\n"
               "Importing pass 2 (sigs)...\ndone.\n0 sigs imported\n"
               "reachable set is size 1\nstrongly connected set is size 0\n");
    write_file(d.path / "othersets.txt", "");
    run_figures f;
    read_status(d.dir(), f);
    std::vector<char> in_strong;
    read_othersets(d.dir(), f, {}, in_strong);
    EXPECT_EQ(f.set_count, 0);
    EXPECT_EQ(f.reachable_size, 1);
}

// Every complaint names the file and, where there is one, the line.
TEST(ReadSummaryFiles, MalformedOrMissingFilesAreNamed) {
    scratch_dir d;
    std::string dir = d.dir();
    run_figures f;
    std::vector<char> flags;
    EXPECT_EQ(input_error_of([&] { read_status(dir, f); }),
              "'" + dir + "status.txt': No such file or directory");

    const struct bad_file {
        const char* name;
        std::string text;
        std::string message;
    } cases[] = {
        {"status.txt", "Importing pass 1 (keys)...\ndone.\nmany keys imported\n",
         "status.txt:3: unexpected line \"many keys imported\""},
        {"status.txt", "Importing pass 1 (keys)...\ndone.\n3 keys imported\n",
         "status.txt: incomplete: the analyser's run did not finish"},
        {"status.txt",
         "Importing pass 1 (keys)...\ndone.\n3 keys imported\nImporting pass 2 (sigs)...\n"
         "Error finding key in pass 2.\n",
         "status.txt:5: the analyser stopped: the key list changed while it was read"},
        {"status.txt", "Importing pass 1 (keys)...\ndone.\n3 keys imp",
         "status.txt:3: last line has no line end (file cut short?)"},
        {"status.txt", std::string(5000, 'x') + "\n", "status.txt:1: line too long"},
        {"other.txt", "", "other.txt: empty: the analyser's run did not finish"},
        {"other.txt", "Average mean is 3\n", "other.txt:1: unexpected line \"Average mean is 3\""},
        {"other.txt", "Average mean is    1.0000\nmore\n", "other.txt:2: unexpected line \"more\""},
        {"othersets.txt", "00000000 00000001\n*** 2 keys in this strongly connected set\n\n",
         "othersets.txt:2: the set has 1 id lines, not 2"},
        {"othersets.txt", "00000000 00000001\n*** 1 keys in this strongly connected set\nx\n",
         "othersets.txt:3: expected an empty line after the count line, found \"x\""},
        {"othersets.txt", "00000000 00000001\n",
         "othersets.txt: incomplete: the last set has no count line"},
        {"othersets.txt", "0000000<b> 00000001\n",
         "othersets.txt:1: unexpected line \"0000000<b> 00000001\""},
        {"othersets.txt", "00000000 00000001\n*** 1 keys in this strongly connected set\n\n",
         "othersets.txt: its largest set has 1 keys, but status.txt gives the strong set 5 "
         "(files from different runs?)"},
    };
    for (const bad_file& c : cases) {
        write_file(d.path / c.name, c.text);
        f.strong_set_size = 5;
        std::string message = input_error_of([&] {
            if (std::string(c.name) == "status.txt") read_status(dir, f);
            if (std::string(c.name) == "other.txt") read_other(dir, f);
            if (std::string(c.name) == "othersets.txt") read_othersets(dir, f, {}, flags);
        });
        EXPECT_EQ(message, dir + c.message);
    }
}

TEST(ReadSummaryFiles, QuotedLinesShowNoControlBytes) {
    EXPECT_EQ(quote_line("a\x1b[2Jb\tc"), "\"a?[2Jb?c\"");
    EXPECT_EQ(quote_line(std::string(70, 'x')), "\"" + std::string(60, 'x') + "...\"");
}

// The analyser's own output on the shipped sample.
TEST(ReadSummaryFiles, RealAnalyserOutput) {
    scratch_dir d;
    std::string command = std::string(KORVALINDE_PATH) + " -j 2 -o " + d.dir() + " " + SAMPLE_PATH +
                          " >/dev/null 2>&1";
    // NOLINTNEXTLINE(cert-env33-c): the analyser runs through sh on purpose
    ASSERT_EQ(std::system(command.c_str()), 0);
    run_figures f;
    read_status(d.dir(), f);
    read_other(d.dir(), f);
    std::vector<char> flags;
    read_othersets(d.dir(), f, {}, flags);
    EXPECT_EQ(f.keys, 400);
    EXPECT_EQ(f.signatures, 1800);
    EXPECT_EQ(f.reachable_size, 300);
    EXPECT_EQ(f.strong_set_size, 140);
    EXPECT_EQ(f.average_mean, 38710);
    EXPECT_GT(f.set_count, 1);
}

} // namespace
