// Files of the report directory, looked up so that no request can reach
// anything outside it: the path is taken one component at a time from the
// directory's descriptor, and a link, a "." or ".." component, an empty or
// hidden one is refused.
#pragma once

#include "served_data.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

struct report_file {
    unique_fd fd;
    struct stat info {};
};

// The regular file at relative (components separated by "/") below the
// directory dir_fd, or nullopt (missing, a directory, a link, a refused
// component).
std::optional<report_file> open_report_file(int dir_fd, std::string_view relative);

// The Content-Type of a report directory's file by its name: the
// analyser's reports have no extension and are text.
std::string report_content_type(std::string_view name);

// The section of a key's report (from its "KeyID" line to the next key's),
// in whichever layout the analyser wrote it; nullopt when there is none.
std::optional<std::string> read_key_report_text(int dir_fd, uint64_t id);

// The relative path of the key's report file that exists, or empty.
std::string key_report_path(int dir_fd, uint64_t id);
