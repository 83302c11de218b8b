// Scratch output directories for the tests.
#pragma once

#include "line_reader.h"

#include <filesystem>
#include <string>

// A fresh directory under /tmp, removed with everything in it at the end.
struct scratch_dir {
    std::filesystem::path path;
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    // The path with a trailing "/", as the readers take it.
    std::string dir() const { return path.string() + "/"; }
};

// How many times part stands in text, overlapping included.
size_t count(const std::string& text, const std::string& part);

void write_file(const std::filesystem::path& path, const std::string& text);
std::string read_file(const std::filesystem::path& path);

// A small consistent output directory: status.txt, other.txt, othersets.txt
// with a strong set of A and B and a set of C alone, msd.txt with A, B, C,
// and reports in subdirectories.
void write_small_output(const std::filesystem::path& dir);

// The message of the input_error that f throws, or "" when it throws none.
template <typename F> std::string input_error_of(F f) {
    try {
        f();
    } catch (const input_error& error) {
        return error.what();
    }
    return "";
}
