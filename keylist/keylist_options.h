// The command line of korvalinde-keylist.
#pragma once

#include "key_block.h"

#include <cstdint>
#include <optional>
#include <string>

struct keylist_settings {
    std::string input_path = "-";  // "-": standard input
    std::string output_path = "-"; // "-": standard output
    keylist_rules rules;
    int verbose = 0;
};

// A reference date: "YYYY-MM-DD" (the start of that day, UTC) or a number of
// seconds since the epoch. Returns nothing when text is neither.
std::optional<int64_t> parse_as_of(const char* text);

// Reads the command line with POSIX semantics (option parsing stops at the
// first operand). Returns an exit status when the process is to end now (0
// after --help or --version, 1 after a usage error, reported), or nothing.
std::optional<int> read_keylist_options(int argc, char** argv, keylist_settings& settings);
