// The command line of korvalinde-html.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

struct summary_settings {
    std::string dir = "output/"; // the analyser's output directory, always ending in "/"
    std::string page_path;       // -o; empty means dir + "index.html"
    std::string title = "korvalinde results";
    size_t ranking_limit = 1000; // -n; 0 means every key
    bool show_date = false;      // -d
    std::string names_path;      // -N: key id to user id; empty: no names
    size_t max_pages = 0;        // -m: key pages at most; 0 means a page for every key
    std::string keys_path;       // -i: the key list, for who certified whom; empty: none
    std::string inputs_path;     // -s: korvalinde-keylist's summary file; empty: none
};

// The largest -n other than 0: beyond it the page is no longer usable.
constexpr size_t MAX_RANKING_LIMIT = 100000000;

// Reads the command line. Returns an exit status when the program should end
// now (0 after --help or --version, 2 after a usage error, reported on
// standard error).
// Option parsing stops at the first operand.
std::optional<int> read_summary_options(int argc, char** argv, summary_settings& settings);
