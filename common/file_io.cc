#include "file_io.h"

#include <cerrno>
#include <unistd.h>

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

ssize_t read_some(int fd, void* into, size_t size) {
    for (;;) {
        const ssize_t n = read(fd, into, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}
