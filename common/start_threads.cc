#include "start_threads.h"

#include <cstdio>
#include <system_error>

int start_helper_threads(std::vector<std::thread>& helpers, int threads,
                         const std::function<void(int)>& work, refusal_line ending) {
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(work, t);
        } catch (const std::system_error&) {
            std::fprintf(stderr, "Cannot create thread %d.%s", t,
                         ending == refusal_line::ended ? "\n" : "");
            break;
        }
    }
    return static_cast<int>(helpers.size()) + 1;
}

void join_helper_threads(std::vector<std::thread>& helpers) {
    for (std::thread& helper : helpers)
        helper.join();
    helpers.clear();
}

void run_work_on_threads(int threads, const std::function<void()>& work, refusal_line ending) {
    std::vector<std::thread> helpers;
    start_helper_threads(
        helpers, threads, [&work](int) { work(); }, ending);
    work();
    join_helper_threads(helpers);
}
