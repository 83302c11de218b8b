#include "report_files.h"

#include "test_dirs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

TEST(ReportFiles, NamesInBothLayouts) {
    EXPECT_EQ(report_name(report_layout::subdirs, 0x0000ABCD), "00/0000ABCD");
    EXPECT_EQ(report_name(report_layout::flat, 0x0000ABCD), "0000ABCD");
}

void set_mtime(const std::filesystem::path& path, time_t seconds) {
    timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(ReportFiles, LayoutIsTheOneThatExistsOrTheNewer) {
    scratch_dir d;
    EXPECT_EQ(input_error_of([&] { find_report_layout(d.dir(), 0x1A2B3C4D); }),
              d.dir() + "1A/1A2B3C4D: no report for the best-ranked key (nor " + d.dir() +
                  "1A2B3C4D)");
    write_file(d.path / "1A2B3C4D", "x\n");
    EXPECT_EQ(find_report_layout(d.dir(), 0x1A2B3C4D), report_layout::flat);
    write_file(d.path / "1A" / "1A2B3C4D", "x\n");
    set_mtime(d.path / "1A2B3C4D", 1000);
    set_mtime(d.path / "1A" / "1A2B3C4D", 2000);
    EXPECT_EQ(find_report_layout(d.dir(), 0x1A2B3C4D), report_layout::subdirs);
    set_mtime(d.path / "1A2B3C4D", 3000);
    EXPECT_EQ(find_report_layout(d.dir(), 0x1A2B3C4D), report_layout::flat);
    // A directory where a report should be is not a report.
    std::filesystem::create_directories(d.path / "77" / "77777777");
    EXPECT_NE(input_error_of([&] { find_report_layout(d.dir(), 0x77777777); }), "");
}

const char* const SHARED_REPORT =
    "KeyID 00000001 0000ABCD\n\nSignatures to this key:\n"
    "Breakout by hop count (only from strong set):\n 0 hops:     1\n 1 hops:     7\n\n"
    "Farthest keys (1 hops):\n  00000002 0000ABCD\n"
    "KeyID 00000002 0000ABCD\n\n"
    "Breakout by hop count (only from strong set):\n 0 hops:     0\n 1 hops:     3\n"
    " 2 hops:    12\n";

TEST(ReportFiles, HopCountsOfTheRightKeyInASharedReport) {
    scratch_dir d;
    write_file(d.path / "00" / "0000ABCD", SHARED_REPORT);
    EXPECT_EQ(read_hop_counts(d.dir(), report_layout::subdirs, {1, 0xABCD}),
              (std::vector<int64_t>{1, 7}));
    EXPECT_EQ(read_hop_counts(d.dir(), report_layout::subdirs, {2, 0xABCD}),
              (std::vector<int64_t>{0, 3, 12}));
    EXPECT_EQ(input_error_of([&] {
                  read_hop_counts(d.dir(), report_layout::subdirs, {3, 0xABCD});
              }),
              d.dir() + "00/0000ABCD: no hop counts for key 00000003 0000ABCD");
}

TEST(ReportFiles, MalformedHopRowsAreNamed) {
    scratch_dir d;
    std::string head = "KeyID 00000001 0000ABCD\nBreakout by hop count (only from strong set):\n";
    write_file(d.path / "0000ABCD", head + " 0 hops:     1\n 2 hops:     7\n");
    EXPECT_EQ(input_error_of([&] {
                  read_hop_counts(d.dir(), report_layout::flat, {1, 0xABCD});
              }),
              d.dir() + "0000ABCD:4: hop count rows out of order at \" 2 hops:     7\"");
    write_file(d.path / "0000ABCD", head + " 0 hops:     1\n 1 hops:   lots\n");
    EXPECT_EQ(input_error_of([&] {
                  read_hop_counts(d.dir(), report_layout::flat, {1, 0xABCD});
              }),
              d.dir() + "0000ABCD:4: expected a hop count row, found \" 1 hops:   lots\"");
    // Numbers too large for any count, and signs, are not rows; a hop number
    // that would wrap around to 1 in an int must not pass as the next row.
    const struct {
        std::string row, error;
    } cases[] = {
        {" 1 hops: 99999999999999999999",
         "expected a hop count row, found \" 1 hops: 99999999999999999999\""},
        {"4294967297 hops:     7", "hop count rows out of order at \"4294967297 hops:     7\""},
        {"+1 hops:     7", "expected a hop count row, found \"+1 hops:     7\""},
        {" 1 hops:    -7", "expected a hop count row, found \" 1 hops:    -7\""},
        {" 1 hops:     7 ", "expected a hop count row, found \" 1 hops:     7 \""},
    };
    for (const auto& c : cases) {
        write_file(d.path / "0000ABCD", head + " 0 hops:     1\n" + c.row + "\n");
        EXPECT_EQ(input_error_of([&] {
                      read_hop_counts(d.dir(), report_layout::flat, {1, 0xABCD});
                  }),
                  d.dir() + "0000ABCD:4: " + c.error);
    }
}

} // namespace
