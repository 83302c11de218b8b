// Times the import and the set search of korvalinde on one key list and
// prints them with the peak memory of the process.
#include "key_import.h"
#include "strong_sets.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s keylist\n", argv[0]);
        return 1;
    }
    FILE* input = std::fopen(argv[1], "r");
    if (!input) {
        std::perror(argv[1]);
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    key_graph g;
    if (import_keys(input, argv[1], nullptr, g) != 0) return 1;
    auto imported = std::chrono::steady_clock::now();
    set_results s;
    find_sets(g, nullptr, nullptr, s);
    auto found = std::chrono::steady_clock::now();
    struct rusage usage {};
    (void)getrusage(RUSAGE_SELF, &usage); // cannot fail with RUSAGE_SELF
    std::printf("%d keys, %" PRId64 " signatures: import %.2f s, sets %.2f s, "
                "strong set %d, reachable %d, peak memory %ld MiB\n",
                g.key_count, g.sig_count, std::chrono::duration<double>(imported - start).count(),
                std::chrono::duration<double>(found - imported).count(), s.strong_set_size,
                s.reachable_size, usage.ru_maxrss / 1024);
    return 0;
}
