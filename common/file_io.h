// Writing to file descriptors.
#pragma once

#include <cstddef>

// Writes all size bytes of data to fd, continuing after short writes and
// retrying calls interrupted by a signal. Returns false with errno set when
// a write fails.
bool write_all(int fd, const char* data, size_t size);
