// Holding passphrases: buffers that are kept out of swap where the system
// allows it and wiped in a way the compiler cannot drop.
#pragma once

#include "settings.h"

#include <cstddef>

// Locks the pages of a buffer into memory. A refusal (no privilege, over the
// limit) is not an error: the buffer is still used, only swappable.
void lock_secret(void* data, size_t size);

// Overwrites a buffer with zero bytes; never optimised away.
void wipe_secret(void* data, size_t size);

// One PASSPHRASE_MAX buffer, locked on construction and wiped on destruction.
// Static instances are also wiped on exit().
struct passphrase_buffer {
    char bytes[PASSPHRASE_MAX];
    passphrase_buffer() noexcept { lock_secret(bytes, sizeof bytes); }
    ~passphrase_buffer() { wipe(); }
    passphrase_buffer(const passphrase_buffer&) = delete;
    passphrase_buffer& operator=(const passphrase_buffer&) = delete;
    void wipe() { wipe_secret(bytes, sizeof bytes); }
};
