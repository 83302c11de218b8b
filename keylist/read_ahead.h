// Reading an input ahead on a helper thread: while the bytes read last are
// parsed, the next blocks are read (the copy out of the page cache or the
// pipe happens on another core). A few blocks of memory, whatever the input.
// Without a thread, the blocks are read when asked for.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <sys/types.h>
#include <thread>

struct read_ahead {
    static constexpr size_t BUFFERS = 4;

    int fd = -1;
    size_t block_size = 0;
    std::unique_ptr<uint8_t[]> buffers[BUFFERS];
    ssize_t filled[BUFFERS] = {}; // bytes, 0 at the end, -1 after an error
    int error[BUFFERS] = {};      // errno of that error
    bool holding = false;         // the caller holds buffer consumed % BUFFERS

    std::mutex lock; // guards what follows
    std::condition_variable changed;
    uint64_t produced = 0;
    uint64_t consumed = 0;
    bool stopping = false;

    std::thread reader;

    read_ahead() = default;
    // Stops the reader, after the read it may be waiting in.
    ~read_ahead();
    read_ahead(const read_ahead&) = delete;
    read_ahead& operator=(const read_ahead&) = delete;
};

// Starts reading fd ahead in blocks of block_size bytes.
void start_read_ahead(read_ahead& r, int fd, size_t block_size);

// The next block (valid until the next call; empty at the end of the
// input). False after a read error, with errno set.
bool next_block(read_ahead& r, std::span<const uint8_t>& block);
