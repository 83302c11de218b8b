// The chunked tables across chunk boundaries, and reading ahead through a
// file and a pipe.
#include "read_ahead.h"
#include "table_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct element {
    uint64_t a;
    uint32_t b;
};

TEST(ChunkedList, ElementsStayInPlaceAcrossChunks) {
    chunked_list<element> list;
    const size_t n = 3 * chunked_list<element>::PER_CHUNK + 5;
    std::vector<const element*> where;
    for (size_t i = 0; i < n; ++i) {
        element& e = list.push_back({i * 7, static_cast<uint32_t>(i)});
        if (i % 1000 == 0 || i + 1 == n) where.push_back(&e);
    }
    ASSERT_EQ(list.size(), n);
    EXPECT_EQ(list.chunks.size(), 4u);
    for (size_t i = 0; i < n; i += 997)
        ASSERT_EQ(list[i].a, i * 7) << i;
    EXPECT_EQ(list.back().b, n - 1);
    for (const element* e : where)
        EXPECT_EQ(e, &list[e->b]);
}

// What fd holds, read through read_ahead in blocks of block bytes.
std::string read_all(int fd, size_t block) {
    read_ahead ahead;
    start_read_ahead(ahead, fd, block);
    std::string got;
    std::span<const uint8_t> b;
    while (next_block(ahead, b) && !b.empty())
        got.append(reinterpret_cast<const char*>(b.data()), b.size());
    return got;
}

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(i * 131 + i / 251);
    return s;
}

TEST(ReadAhead, AFileInManyBlocksAndAPipeInOddPieces) {
    const std::string data = pattern(10 * 4096 + 17);
    char name[] = "/tmp/read_ahead_test.XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    EXPECT_EQ(read_all(fd, 4096), data); // more blocks than buffers
    EXPECT_EQ(close(fd), 0);
    EXPECT_EQ(unlink(name), 0);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([&] {
        for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 % 5000 + 1)
            if (write(ends[1], data.data() + at, std::min(piece, data.size() - at)) < 0) break;
        EXPECT_EQ(close(ends[1]), 0);
    });
    EXPECT_EQ(read_all(ends[0], 1000), data);
    writer.join();
    EXPECT_EQ(close(ends[0]), 0);

    // A descriptor that cannot be read: an error, with errno.
    read_ahead ahead;
    start_read_ahead(ahead, -1, 4096);
    std::span<const uint8_t> b;
    EXPECT_FALSE(next_block(ahead, b));
    EXPECT_EQ(errno, EBADF);
}

} // namespace
