// Writing the page so that it appears whole or not at all (atomic_file.h),
// with the program's messages for each failure.
#pragma once

#include "atomic_file.h"

#include <stdexcept>
#include <string>

// The page cannot be written; the message names the path and the reason.
struct page_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Creates the temporary file for path (atomic_file.h); throws page_error.
void open_page_file(atomic_file& file, const std::string& path);

// Flushes the page to disk, closes it and renames it to its path; throws
// page_error, leaving no temporary file behind. An existing page's
// permission bits are kept; a new page gets 0666 less the umask. With sync
// false the caller flushes many pages at once (syncfs) instead.
void commit_page_file(atomic_file& file, bool sync = true);

// The relative URL prefix from the directory of page_path to dir: "" when
// they are the same directory, otherwise a path ending in "/".
std::string href_prefix(const std::string& page_path, const std::string& dir);
