#include "worker_threads.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

void exit_out_of_memory() {
    std::fputs("korvalinde: out of memory\n", stderr);
    std::_Exit(1);
}

void run_on_threads(int threads, const std::function<void()>& work_to_share) {
    auto work = [&work_to_share] {
        try {
            work_to_share();
        } catch (const std::bad_alloc&) {
            exit_out_of_memory();
        }
    };
    std::vector<std::thread> workers;
    for (int t = 1; t < threads; ++t) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            // Out of threads or memory for their stacks: further attempts
            // would fail alike, so the threads started so far do the work.
            std::fprintf(stderr, "Cannot create thread %d.", t);
            break;
        }
    }
    work();
    for (std::thread& w : workers)
        w.join();
}
