// The command line of korvalinde-keylist.
#pragma once

#include "key_block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct keylist_settings {
    std::vector<std::string> input_paths = {"-"}; // "-": standard input
    std::string output_path = "-";                // "-": standard output
    std::string names_path;                       // --names; empty: none
    std::string summary_path;                     // --summary; empty: none
    std::string cache_path;                       // --cache; empty: none
    keylist_rules rules;
    bool verify = true;   // --no-verify clears it
    unsigned threads = 0; // -j; 0: one per online processor
    int verbose = 0;
};

// A reference date: "YYYY-MM-DD" (the start of that day, UTC) or a number of
// seconds since the epoch. Returns nothing when text is neither.
std::optional<int64_t> parse_as_of(const char* text);

// Reads the command line with POSIX semantics (option parsing stops at the
// first operand). Returns an exit status when the process is to end now (0
// after --help or --version, 2 after a usage error, reported), or nothing.
std::optional<int> read_keylist_options(int argc, char** argv, keylist_settings& settings);
