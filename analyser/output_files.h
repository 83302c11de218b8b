// The input stream and the four summary files of a run.
#pragma once

#include "run_settings.h"

#include <cstdio>
#include <string>

struct output_streams {
    FILE* input = nullptr;
    FILE* status_file = nullptr;    // import progress and set sizes
    FILE* msd_file = nullptr;       // one mean distance line per reachable key
    FILE* othersets_file = nullptr; // every strongly connected set
    FILE* other_file = nullptr;     // the average mean line
    std::string status_path, msd_path, othersets_path, other_path;
    // After open_files failed without a message of its own: the path that
    // could not be opened and the system's error number.
    std::string failed_path;
    int failed_errno = 0;
};

// Opens the input, creates and opens the output directory (its descriptor in
// settings.output_dir_fd; a directory others could plant links in is refused
// with a message) and opens the four summary files in it, never through a
// link, in the order status, msd, othersets, other. Returns 0 when all are
// open, 1 at the first failure (the files opened before it stay open); the
// failure is reported on standard error, or left in failed_path and
// failed_errno for the caller to report.
int open_files(run_settings& settings, output_streams& streams);

// Flushes a summary stream and reports on standard error, naming the path, if
// anything written to it so far has failed. Returns true on failure.
bool output_failed(FILE* stream, const std::string& path);

// Closes the input and the summary files other than "other.txt". Returns 0,
// or 1 when any of them could not be written completely (each failure
// reported).
int close_results(output_streams& streams);

// Closes whatever close_results has not closed, "other.txt" included, with
// the same result.
int close_files(output_streams& streams);

// Empties the file name of the directory dir_fd, whose content cannot be
// trusted after a reported failure; a link in its place is left alone.
void withdraw_file(int dir_fd, const char* name);
