// The run settings of korvalinde, filled once from the command line.
#pragma once

#include <optional>
#include <string>

// The address under which the monthly reports are published, named in every
// key report unless --report-address gives another.
constexpr const char* DEFAULT_REPORT_ADDRESS = "https://nimvara.example.org/korvalinde/";

// The longest --report-address accepted.
constexpr size_t REPORT_ADDRESS_MAX = 1024;

struct run_settings {
    std::string input_path = "preprocess.keys";
    std::string output_dir = "output/"; // always ends in "/"; used as a plain prefix
    int use_subdirs = 1;                // reports go into two-character subdirectories
    int threads = 1;                    // analysis and report threads (-j)
    int output_dir_fd = -1;             // output_dir, opened by open_files
    std::string report_address = DEFAULT_REPORT_ADDRESS;
};

// Reads the command line into settings with POSIX getopt semantics (parsing
// stops at the first operand, which becomes the input path). Returns an exit
// status when the process is to end now (0 after -h, 1 after an unusable
// value, 2 after a second operand), or nothing when the run goes on.
std::optional<int> read_options(int argc, char** argv, run_settings& settings);
