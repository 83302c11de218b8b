// The command line: parsing into wrapper_settings, the usage text.
#pragma once

#include "settings.h"

// What parsing an argument vector came to. detail is the offending argument
// (PARSE_UNRECOGNIZED) or the option's label (PARSE_EXPECTS_FILE_NAME,
// PARSE_STDIN_TWICE); nullptr otherwise.
enum parse_status {
    PARSE_OK,
    PARSE_USAGE,
    PARSE_UNRECOGNIZED,
    PARSE_PASSPHRASE_FILE_TWICE,
    PARSE_EXPECTS_FILE_NAME,
    PARSE_STDIN_TWICE,
    PARSE_TOO_MANY_FILES,
    PARSE_NO_COMMAND,
    PARSE_NO_FILES,
    PARSE_NO_ADDITIONAL_ARGUMENTS,
};

struct parse_outcome {
    parse_status status;
    const char* detail;
};

// Parses a null-terminated argument vector (argument 0 first) into s without
// printing or exiting, so that it can be driven from memory. On anything but
// PARSE_OK, s is partly filled and must not be used.
parse_outcome parse_arguments(char** argv, wrapper_settings& s);

// The diagnostic text of a failed outcome, written into buffer.
void describe_parse_failure(const parse_outcome& outcome, char* buffer, int size);

// parse_arguments into the process-wide settings; shows the usage text or
// ends with the diagnostic where parsing stops.
void parse_command_line(char** argv);

// Writes the usage text on standard output and exits with status 0.
[[noreturn]] void print_usage();

// Overwrites every character of a NUL-terminated text with a space.
void blank_out(char* text);
