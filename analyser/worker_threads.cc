#include "worker_threads.h"

#include "start_threads.h"

#include <cstdio>
#include <cstdlib>
#include <new>

void exit_out_of_memory() {
    std::fputs("korvalinde: out of memory\n", stderr);
    std::_Exit(1);
}

void run_on_threads(int threads, const std::function<void()>& work_to_share) {
    // korvalinde's message about a thread it cannot start has no line end.
    run_work_on_threads(
        threads,
        [&work_to_share] {
            try {
                work_to_share();
            } catch (const std::bad_alloc&) {
                exit_out_of_memory();
            }
        },
        refusal_line::unended);
}
