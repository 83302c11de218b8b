// Writing the page so that it appears whole or not at all: into a
// temporary file beside it, renamed into place only when every byte and
// the close succeeded.
#pragma once

#include <stdexcept>
#include <string>

// The page cannot be written; the message names the path and the reason.
struct page_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct page_file {
    std::string path;      // where the page goes
    std::string temp_path; // ".NAME.XXXXXX" in the same directory
    int fd = -1;
    bool committed = false;

    page_file() = default;
    page_file(const page_file&) = delete;
    page_file& operator=(const page_file&) = delete;
    // Closes and removes the temporary file unless the page was committed.
    ~page_file();
};

// Creates the temporary file for path; throws page_error.
void open_page_file(page_file& file, const std::string& path);

// Gives the file the permissions a new file gets (0666 less the umask),
// flushes it to disk (unless sync is false: the caller syncs many files at
// once), closes it and renames it to its path; throws page_error, leaving no
// temporary file behind.
void commit_page_file(page_file& file, bool sync = true);

// The relative URL prefix from the directory of page_path to dir: "" when
// they are the same directory, otherwise a path ending in "/".
std::string href_prefix(const std::string& page_path, const std::string& dir);
