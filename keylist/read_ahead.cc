#include "read_ahead.h"

#include "file_io.h"

#include <cerrno>
#include <system_error>
#include <unistd.h>

namespace {

void read_blocks(read_ahead& r) {
    std::unique_lock<std::mutex> hold(r.lock);
    for (;;) {
        r.changed.wait(
            hold, [&r] { return r.stopping || r.produced - r.consumed < read_ahead::BUFFERS; });
        if (r.stopping) return;
        const size_t slot = r.produced % read_ahead::BUFFERS;
        hold.unlock();
        const ssize_t n = read_some(r.fd, r.buffers[slot].get(), r.block_size);
        const int e = errno;
        hold.lock();
        r.filled[slot] = n;
        r.error[slot] = e;
        ++r.produced;
        r.changed.notify_all();
        if (n <= 0) return;
    }
}

} // namespace

void start_read_ahead(read_ahead& r, int fd, size_t block_size) {
    r.fd = fd;
    r.block_size = block_size;
    for (std::unique_ptr<uint8_t[]>& b : r.buffers)
        b.reset(new uint8_t[block_size]);
    try {
        r.reader = std::thread(read_blocks, std::ref(r));
    } catch (const std::system_error&) {
        // No thread: next_block reads each block itself.
    }
}

bool next_block(read_ahead& r, std::span<const uint8_t>& block) {
    size_t slot = 0;
    if (!r.reader.joinable()) {
        r.filled[0] = read_some(r.fd, r.buffers[0].get(), r.block_size);
        r.error[0] = errno;
    } else {
        std::unique_lock<std::mutex> hold(r.lock);
        if (r.holding) {
            ++r.consumed;
            r.changed.notify_all();
        }
        r.changed.wait(hold, [&r] { return r.produced > r.consumed; });
        r.holding = true;
        slot = r.consumed % read_ahead::BUFFERS;
    }
    if (r.filled[slot] < 0) {
        errno = r.error[slot];
        return false;
    }
    block = std::span<const uint8_t>(r.buffers[slot].get(), static_cast<size_t>(r.filled[slot]));
    return true;
}

read_ahead::~read_ahead() {
    if (!reader.joinable()) return;
    {
        const std::lock_guard<std::mutex> hold(lock);
        stopping = true;
    }
    changed.notify_all();
    reader.join();
}
