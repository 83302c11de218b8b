// Messages on standard error: fatal messages and system errors, which end the
// process with status 1, the one warning, and traces selected by verbosity.
#pragma once

#include <cstddef>

[[noreturn, gnu::format(printf, 1, 2)]] void fatal_message(const char* format, ...);
[[gnu::format(printf, 1, 2)]] void warning_message(const char* format, ...);
// perror() with the program name, then exit status 1.
[[noreturn]] void fatal_errno();
// The same naming the file the failed call was about: "nimvara: 'NAME': " and
// the system's text ("standard input" for "-").
[[noreturn]] void fatal_errno_file(const char* name);
[[gnu::format(printf, 2, 3)]] void verbose_message(int level, const char* format, ...);
[[noreturn]] void fatal_too_long();
[[noreturn]] void fatal_no_memory();

// A child that shares the wrapper's memory until it executes a program (see
// feed_passphrase) must not run exit's cleanup: the exit handlers would wipe
// the wrapper's own buffers and flush its streams. While
// fatal_exits_shared_child is set, the fatal diagnostics set
// shared_child_failed and end the process with _exit(1) instead; the wrapper
// reads the flag once the child has executed its program or ended.
extern bool fatal_exits_shared_child;
extern volatile bool shared_child_failed;

// snprintf() that ends the process when the text and its NUL do not fit.
[[gnu::format(printf, 3, 4)]] int do_snprintf(char* buffer, size_t size, const char* format, ...);
