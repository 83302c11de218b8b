// Running one piece of work on several threads.
#pragma once

#include <functional>

// Runs work on `threads` threads as run_work_on_threads does (start_threads.h:
// the same policy when a thread cannot be started); a thread that runs out
// of memory ends the process through exit_out_of_memory.
void run_on_threads(int threads, const std::function<void()>& work);

// For a thread that cannot get memory while others run: an exception cannot
// leave it, and the others may be waiting for it, so the process ends here
// with a message and status 1. The summary files are not flushed, so none of
// them is left looking complete.
[[noreturn]] void exit_out_of_memory();
