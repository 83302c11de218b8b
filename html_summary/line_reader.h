// Reads a text file line by line with a bounded line length, counting lines
// so that every complaint can name the file and the line.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// A missing, unreadable or malformed input file. The message is complete:
// "PATH: what" or "PATH:LINE: what".
struct input_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws input_error with "PATH:LINE: what".
[[noreturn]] void fail_at_line(const std::string& path, int64_t line, const std::string& what);

struct line_reader {
    std::string path;
    int fd = -1;
    int64_t line_number = 0; // of the line last returned
    std::string buffer;
    size_t start = 0; // first unread byte in buffer
    bool at_end = false;

    // Opens path; throws input_error when it cannot.
    explicit line_reader(std::string file_path);
    ~line_reader();
    line_reader(const line_reader&) = delete;
    line_reader& operator=(const line_reader&) = delete;
};

// The longest line any summary file or report holds is far below this.
constexpr size_t MAX_LINE = 4096;

// Sets line to the next line without its line end and returns true, or
// returns false at the end of the file. The view is valid until the next
// call. Throws input_error on a read error, on a line longer than MAX_LINE
// and on a last line without its line end (a file cut short).
bool next_line(line_reader& reader, std::string_view& line);
