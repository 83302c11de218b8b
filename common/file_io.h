// Reading from and writing to file descriptors.
#pragma once

#include <cstddef>
#include <sys/types.h>

// Writes all size bytes of data to fd, continuing after short writes and
// retrying calls interrupted by a signal. Returns false with errno set when
// a write fails.
bool write_all(int fd, const char* data, size_t size);

// read(2) that retries after a signal: the number of bytes, 0 at the end,
// -1 on an error (errno set).
ssize_t read_some(int fd, void* into, size_t size);
