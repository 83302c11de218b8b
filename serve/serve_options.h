// The command line of korvalinde-serve.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct serve_settings {
    std::string input = "preprocess.keys"; // -i: the key list
    std::string names_path;                // -N: the names file, empty for none
    std::string report_dir;                // -r: korvalinde-html's directory, empty for none
    std::string address = "127.0.0.1";     // -l: where to listen; never all interfaces unasked
    uint16_t port = 8080;                  // 0: any free port, printed once bound
    int threads = 0;                       // -j: worker threads, 0 for the online processors
    bool quiet = false;                    // -q: no request log
    int query_ms = 2000;                   // how long a query may count disjoint paths before 503
};

// Fills settings from the command line. Returns the exit status when the
// program is to end at once: 0 after --help or --version, 2 after a usage
// error (with its message on standard error).
std::optional<int> read_serve_options(int argc, char** argv, serve_settings& settings);

// Splits "ADDRESS:PORT" ("[::1]:8080" for IPv6) into settings; false when it
// is not a numeric IPv4 or IPv6 address and a port from 0 to 65535.
bool parse_listen_address(const std::string& text, serve_settings& settings);
