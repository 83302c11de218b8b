#include "start_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

TEST(WorkerThreads, EveryThreadRunsTheWorkOnceWithItsOwnNumber) {
    for (int threads : {1, 2, 5}) {
        std::mutex lock;
        std::multiset<int> seen;
        std::vector<std::thread> helpers;
        const auto work = [&](int self) {
            const std::lock_guard<std::mutex> hold(lock);
            seen.insert(self);
        };
        const int running = start_helper_threads(helpers, threads, work);
        EXPECT_EQ(running, threads);
        work(0);
        join_helper_threads(helpers);
        EXPECT_TRUE(helpers.empty());
        std::multiset<int> expected;
        for (int t = 0; t < threads; ++t)
            expected.insert(t);
        EXPECT_EQ(seen, expected);
    }
    std::atomic<int> runs{0};
    run_work_on_threads(0, [&runs] { ++runs; }); // no helpers: the caller alone
    run_work_on_threads(3, [&runs] { ++runs; });
    EXPECT_EQ(runs.load(), 4);
}
