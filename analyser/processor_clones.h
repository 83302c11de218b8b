// Hot routines are built for several processor kinds and the right one is
// chosen when the program is loaded: for_each_processor("popcnt",
// "default") before a function builds it with and without the
// population-count instruction, which the baseline x86-64 target lacks
// (std::popcount is then a library call). Sanitizer builds skip this: their
// runtime is not ready yet when the choice is made.
#pragma once

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__) || !defined(__x86_64__)
#define for_each_processor(...)
#else
#define for_each_processor(...) __attribute__((target_clones(__VA_ARGS__)))
#endif
