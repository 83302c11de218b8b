// The messages every korvalinde-* program and generator shares: the version
// line, usage errors, the out-of-memory end. Each program names itself once,
// at the start of main, and every message begins with that name.
#pragma once

#include <getopt.h>
#include <string>

// The program's name for every message; set before anything is printed.
void set_program_name(const char* program_name_text);
const char* program_name();

// Writes text (the usage) on standard output. Returns the exit status: 0, or
// 1 when standard output could not be written.
int print_help(const char* text);

// "PROGRAM VERSION" on standard output, the project's one version. Returns
// the exit status as print_help does.
int print_version();

// "PROGRAM: text" and "Try 'PROGRAM --help'." on standard error. Returns the
// exit status of a usage error, 2.
int usage_error(const std::string& text);

// What getopt_long's '?' or ':' means, naming the option as written: "unknown
// option '-x'", "option '--keys' needs a value", "option '--json' takes no
// value". The option string must begin with ":" (after any "+") and opterr be
// 0; word_before is optind as it was before that call of getopt_long, and
// long_options the table given to it.
std::string getopt_error_text(int returned, char** argv, int word_before,
                              const option* long_options);

// The usage error with that text.
int getopt_error(int returned, char** argv, int word_before, const option* long_options);

// The option that getopt_long has just returned as the user wrote it: the
// long form up to any "=", or "-" and its letter.
std::string option_as_written(char** argv, int word_before, int returned);

// The text of a bad option value: "invalid value 'VALUE' for OPTION
// (EXPECTED)".
std::string invalid_value_text(const std::string& option_name, const char* value,
                               const std::string& expected);

// The usage error with that text.
int bad_value(const std::string& option_name, const char* value, const std::string& expected);

// "PROGRAM: out of memory" on standard error; returns the exit status, 1.
int report_out_of_memory();

// Makes a std::bad_alloc that escapes any thread (a worker's, or main's)
// end the process with report_out_of_memory's line and status 1 instead of
// an abort. Other uncaught exceptions keep the default handling.
void end_on_out_of_memory();
