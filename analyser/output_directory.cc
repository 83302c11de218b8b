#include "output_directory.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool trusted_owner(uid_t owner) {
    return owner == geteuid() || owner == 0;
}

// Everyone may write, or a group other than the caller's own (a user's
// private group, the usual owner of a group-writable home, is the caller).
bool others_may_write(const struct stat& st) {
    return (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != getegid());
}

std::string refusal(const std::string& dir, const std::string& why) {
    return "refusing the output directory " + dir + ": " + why + "; use a directory of your own";
}

} // namespace

int open_output_directory(const std::string& dir, std::string& error) {
    error.clear();
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return -1;
    struct stat link;
    if (lstat(dir.c_str(), &link) != 0) return -1;
    if (S_ISLNK(link.st_mode) && !trusted_owner(link.st_uid)) {
        error = refusal(dir, "it is a symbolic link that belongs to another user");
        return -1;
    }
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    std::string why;
    if (fstat(fd, &st) != 0)
        why = std::string("cannot examine it: ") + std::strerror(errno);
    else if (!trusted_owner(st.st_uid))
        why = "it belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    else if (others_may_write(st) && (st.st_mode & S_ISVTX) == 0)
        why = "others may write to it and it lacks the sticky bit";
    if (!why.empty()) {
        (void)close(fd); // refused: nothing was written through it
        error = refusal(dir, why);
        return -1;
    }
    return fd;
}

int create_output_file(int dir_fd, const char* name) {
    return openat(dir_fd, name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
}

int open_output_subdirectory(int dir_fd, const char* name) {
    if (mkdirat(dir_fd, name, 0755) != 0 && errno != EEXIST) return -1;
    // O_NOFOLLOW refuses a link, O_DIRECTORY anything else that is not a
    // directory; both fail with ENOTDIR for a link to a directory, which
    // is told apart here so that the message says what stands there.
    int fd = openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOTDIR) {
        struct stat st;
        if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            errno = ELOOP;
        else
            errno = ENOTDIR; // fstatat may have changed it
    }
    return fd;
}
