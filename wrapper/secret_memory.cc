#include "secret_memory.h"

#include <cstring>
#include <sys/mman.h>

void lock_secret(void* data, size_t size) {
    // EPERM or ENOMEM only mean the buffer may be swapped; nothing to report.
    // The lock is never undone: it ends with the process, and unlocking a
    // page could unlock another secret that shares it.
    (void)mlock(data, size);
}

void wipe_secret(void* data, size_t size) {
    explicit_bzero(data, size);
}
