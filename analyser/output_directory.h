// The output directory and the files korvalinde creates in it, opened so
// that no symbolic link is ever followed: every file and subdirectory is
// opened relative to the directory's descriptor with O_NOFOLLOW, so a link
// planted in the directory makes the open fail instead of sending output
// to wherever the link points.
#pragma once

#include <string>

// Creates dir if it does not exist (mode 0755 less the umask) and opens it.
// An existing directory is refused when another user owns it (the caller
// and root are trusted), or when others may write to it (everyone, or a
// group other than the caller's) and the sticky bit is not set: anyone who can write to it could
// plant files or links in it. A link given as dir itself is followed only when it belongs to the
// caller or root. Returns the descriptor, or -1 with a message naming dir in error.
int open_output_directory(const std::string& dir, std::string& error);

// What an open that met a link in place of its file or subdirectory
// (ELOOP from O_NOFOLLOW) says.
constexpr const char* LINK_REFUSED = "a symbolic link stands in its place; it is not followed";

// Creates or empties the regular file name in the directory dir_fd, mode
// 0666 less the umask. Returns the descriptor, or -1 with errno set (ELOOP
// for a link in its place).
int create_output_file(int dir_fd, const char* name);

// Creates the subdirectory name of dir_fd if it does not exist and opens it;
// a link or anything but a directory in its place is refused (ELOOP or
// ENOTDIR). Returns the descriptor, or -1 with errno set.
int open_output_subdirectory(int dir_fd, const char* name);
