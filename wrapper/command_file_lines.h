// Splitting a command file into lines as its bytes arrive. Kept apart from
// the reading so that it can be driven from memory.
#pragma once

#include <cstring>

inline constexpr int LINE_BUFFER_SIZE = 65536;

enum line_scan_status {
    LINES_OK,
    LINE_HAS_NUL,  // a complete line holds a NUL byte
    LINE_TOO_LONG, // the buffer is full and holds no newline
};

struct command_line_buffer {
    char data[LINE_BUFFER_SIZE];
    int held = 0; // bytes read and not yet consumed, from data[0]

    // Where the next read goes, and how much it may bring.
    char* free_start() { return data + held; }
    int free_space() const { return LINE_BUFFER_SIZE - held; }
};

// Takes `added` bytes that were just placed at free_start() and hands every
// complete line, as a NUL-terminated text without its newline, to run_line,
// in order, as soon as it is found. The unfinished rest moves to the front.
// Stops at the first faulty line; the lines before it have been run.
template <typename Runner>
line_scan_status scan_command_lines(command_line_buffer& buffer, int added, Runner&& run_line) {
    buffer.held += added;
    int scan = 0;
    // held counts the bytes from the scan position on.
    while (buffer.held > 0) {
        char* start = buffer.data + scan;
        char* newline = static_cast<char*>(memchr(start, '\n', static_cast<size_t>(buffer.held)));
        if (newline == nullptr) break;
        *newline = '\0';
        int with_newline = static_cast<int>(newline - start) + 1;
        if (static_cast<int>(strlen(start)) < with_newline - 1) return LINE_HAS_NUL;
        run_line(start);
        buffer.held -= with_newline;
        scan += with_newline;
    }
    if (scan == 0 && buffer.held == LINE_BUFFER_SIZE) return LINE_TOO_LONG;
    if (scan > 0 && buffer.held > 0)
        memmove(buffer.data, buffer.data + scan, static_cast<size_t>(buffer.held));
    return LINES_OK;
}
