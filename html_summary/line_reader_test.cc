#include "line_reader.h"

#include "test_dirs.h"

#include <gtest/gtest.h>

namespace {

// Lines of every length up to the limit, across many read blocks, come back
// exactly, numbered from 1; a line just over the limit is refused.
TEST(LineReader, LinesAcrossBlocksAndTheLengthLimit) {
    scratch_dir d;
    std::string text;
    std::vector<std::string> lines;
    for (size_t i = 0; i < 600; ++i) {
        lines.push_back(std::string(i * 37 % (MAX_LINE + 1), static_cast<char>('a' + i % 26)));
        text += lines.back() + "\n";
    }
    ASSERT_GT(text.size(), 4u * 65536);
    write_file(d.path / "lines", text);
    line_reader reader(d.dir() + "lines");
    std::string_view line;
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_TRUE(next_line(reader, line)) << i;
        ASSERT_EQ(line, lines[i]) << i;
        ASSERT_EQ(reader.line_number, static_cast<int64_t>(i + 1));
    }
    EXPECT_FALSE(next_line(reader, line));
    EXPECT_FALSE(next_line(reader, line));

    write_file(d.path / "long", "ok\n" + std::string(MAX_LINE + 1, 'x') + "\n");
    line_reader long_reader(d.dir() + "long");
    ASSERT_TRUE(next_line(long_reader, line));
    EXPECT_EQ(input_error_of([&] { next_line(long_reader, line); }),
              d.dir() + "long:2: line too long");

    write_file(d.path / "empty", "");
    line_reader empty_reader(d.dir() + "empty");
    EXPECT_FALSE(next_line(empty_reader, line));
}

TEST(LineReader, UnreadableFiles) {
    scratch_dir d;
    EXPECT_EQ(input_error_of([&] { line_reader r(d.dir() + "none"); }),
              "'" + d.dir() + "none': No such file or directory");
    line_reader directory(d.dir()); // opening a directory works; reading it does not
    std::string_view line;
    EXPECT_EQ(input_error_of([&] { next_line(directory, line); }),
              "'" + d.dir() + "': Is a directory");
}

} // namespace
