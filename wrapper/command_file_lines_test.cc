#include "command_file_lines.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct split_result {
    std::vector<std::string> lines;
    line_scan_status status = LINES_OK;
    int held_at_end = 0;
};

// Feeds the input in pieces of at most `piece` bytes, as reads would.
split_result split(const std::string& input, size_t piece) {
    static command_line_buffer buffer;
    buffer.held = 0;
    split_result result;
    size_t offset = 0;
    while (offset < input.size()) {
        size_t n =
            std::min({piece, input.size() - offset, static_cast<size_t>(buffer.free_space())});
        memcpy(buffer.free_start(), input.data() + offset, n);
        offset += n;
        result.status = scan_command_lines(buffer, static_cast<int>(n),
                                           [&](const char* line) { result.lines.push_back(line); });
        if (result.status != LINES_OK) break;
    }
    result.held_at_end = buffer.held;
    return result;
}

TEST(CommandFileLines, LinesInOrderWhateverThePieces) {
    const std::string input = "gpg a\n\n  gpg b \r\nlast\n";
    for (size_t piece : {1u, 2u, 5u, 7u, 100u}) {
        split_result r = split(input, piece);
        EXPECT_EQ(r.status, LINES_OK);
        EXPECT_EQ(r.lines, (std::vector<std::string>{"gpg a", "", "  gpg b \r", "last"})) << piece;
        EXPECT_EQ(r.held_at_end, 0);
    }
}

TEST(CommandFileLines, UnfinishedLineIsHeldNotRun) {
    split_result r = split("one\ntwo", 3);
    EXPECT_EQ(r.lines, std::vector<std::string>{"one"});
    EXPECT_EQ(r.held_at_end, 3);
}

TEST(CommandFileLines, NulStopsAtItsLineAfterTheEarlierOnes) {
    split_result r = split(std::string("a\nb\nc\0d\ne\n", 10), 64);
    EXPECT_EQ(r.status, LINE_HAS_NUL);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"a", "b"}));
    // A NUL in a line not yet complete is only seen once the line is.
    split_result pending = split(std::string("a\nb\0", 4), 64);
    EXPECT_EQ(pending.status, LINES_OK);
}

TEST(CommandFileLines, LongestLineFitsOneMoreByteDoesNot) {
    std::string longest(LINE_BUFFER_SIZE - 1, 'x');
    split_result r = split("a\n" + longest + "\n", 4096);
    EXPECT_EQ(r.status, LINES_OK);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[1], longest);

    split_result over = split("a\n" + std::string(LINE_BUFFER_SIZE, 'x') + "\n", 4096);
    EXPECT_EQ(over.status, LINE_TOO_LONG);
    EXPECT_EQ(over.lines, std::vector<std::string>{"a"});
}

} // namespace
