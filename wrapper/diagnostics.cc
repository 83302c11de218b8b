#include "diagnostics.h"

#include "settings.h"
#include "terminal_echo.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

bool fatal_exits_shared_child = false;
volatile bool shared_child_failed = false;

namespace {

void write_message(const char* format, va_list arguments) {
    // Three writes; standard error is line-buffered, so they leave as one line.
    // A failure to write a diagnostic has nowhere to be reported.
    fprintf(stderr, "%s: ", PROGRAM_NAME);
    vfprintf(stderr, format, arguments);
    fputs("\n", stderr);
}

[[noreturn]] void end_with_failure() {
    // A fatal path taken while the prompt has echo off must not leave the
    // terminal that way.
    abandon_prompt();
    if (fatal_exits_shared_child) {
        // The message ended with a newline, so line-buffered standard error
        // has already written it.
        shared_child_failed = true;
        _exit(1);
    }
    exit(1);
}

} // namespace

void fatal_message(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    write_message(format, arguments);
    va_end(arguments);
    end_with_failure();
}

void warning_message(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    write_message(format, arguments);
    va_end(arguments);
}

void fatal_errno() {
    perror(PROGRAM_NAME);
    end_with_failure();
}

void fatal_errno_file(const char* name) {
    const int error = errno;
    if (strcmp(name, "-") == 0)
        fprintf(stderr, "%s: standard input: %s\n", PROGRAM_NAME, strerror(error));
    else
        fprintf(stderr, "%s: '%s': %s\n", PROGRAM_NAME, name, strerror(error));
    end_with_failure();
}

void verbose_message(int level, const char* format, ...) {
    if (settings.verbosity < level) return;
    fprintf(stderr, "%s[%d]: ", PROGRAM_NAME, static_cast<int>(getpid()));
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stderr, format, arguments);
    va_end(arguments);
    fputs("\n", stderr);
}

void fatal_too_long() {
    fatal_message("passphrase too long");
}

void fatal_no_memory() {
    fatal_message("could not allocate memory");
}

int do_snprintf(char* buffer, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(buffer, size, format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<size_t>(length) >= size)
        fatal_message("do_snprintf() size exceeded");
    return length;
}
