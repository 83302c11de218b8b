// The command line of korvalinde-path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class output_form { TEXT, JSON, DOT };

constexpr int32_t PATH_LIMIT_MAX = 1000000;
constexpr int32_t DISJOINT_LIMIT_MAX = 1000000;

struct path_settings {
    std::string input = "preprocess.keys"; // -i: the key list
    std::string names_path;                // -N: the names file, empty for none
    int32_t path_limit = 10;               // -n: shortest paths listed
    int32_t disjoint_limit = 8;            // -k: disjoint paths counted up to
    output_form form = output_form::TEXT;  // --json, --dot
    bool stats = false;                    // --stats: timings on standard error
    bool batch = false;                    // "-": queries from standard input
    std::string from;
    std::string to;
};

// Fills settings from the command line. Returns the exit status when the
// program is to end at once: 0 after -h or -V, 2 after a usage error (its
// message and where to find the usage on standard error).
std::optional<int> read_path_options(int argc, char** argv, path_settings& settings);
