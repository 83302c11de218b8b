// Starting worker threads, with one policy when the system refuses one: the
// first thread that cannot be created is reported on standard error
// ("Cannot create thread N.", a whole line but in korvalinde, whose text has
// no line end) and no further one is tried, as the next
// attempts would fail alike (out of threads or of memory for stacks). The
// threads already started, with the calling thread, then take all the work;
// if none could start, the calling thread does it alone. Work is expected to
// take its share from common state until nothing is left, so the result does
// not depend on how many threads ran.
#pragma once

#include <functional>
#include <thread>
#include <vector>

// How the message about a thread that cannot be created ends.
enum class refusal_line { ended, unended };

// Starts up to threads - 1 helper threads, the i-th running work(i) (i from
// 1, without gaps). Returns the number of threads that take part, counting
// the calling thread, which is expected to run work(0) itself.
int start_helper_threads(std::vector<std::thread>& helpers, int threads,
                         const std::function<void(int)>& work,
                         refusal_line ending = refusal_line::ended);

// Waits for every helper to finish.
void join_helper_threads(std::vector<std::thread>& helpers);

// Runs work on up to threads threads (the calling one and threads - 1
// helpers) and returns when all have finished.
void run_work_on_threads(int threads, const std::function<void()>& work,
                         refusal_line ending = refusal_line::ended);
