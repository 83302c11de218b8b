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

// A folder the program writes into: created when missing; refused when a
// link or anything but a directory stands in its place, since the files
// would then go wherever the link points. Throws page_error.
void make_page_folder(const std::string& folder);

// Writes text as the whole of path (atomically, without a sync: the caller
// syncs the folder once, sync_page_folder). Throws page_error.
void write_page_text(const std::string& path, const std::string& text);

// Flushes everything written on the file system of folder. Throws page_error.
void sync_page_folder(const std::string& folder);

// The path of name in the directory of page_path.
std::string sibling_path(const std::string& page_path, const std::string& name);
