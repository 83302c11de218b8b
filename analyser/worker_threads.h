// Running one piece of work on several threads.
#pragma once

#include <functional>

// Runs work on `threads` threads: the calling thread and threads - 1 started
// ones; each call of work is expected to take its share from common state
// until nothing is left, so the result does not depend on how many threads
// actually ran. A thread that cannot be started is reported on standard error
// ("Cannot create thread N.") and the run carries on with those started.
void run_on_threads(int threads, const std::function<void()>& work);

// For a thread that cannot get memory while others run: an exception cannot
// leave it, and the others may be waiting for it, so the process ends here
// with a message and status 1. The summary files are not flushed, so none of
// them is left looking complete.
[[noreturn]] void exit_out_of_memory();
