#include "output_files.h"

#include "output_directory.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Keeps what failed for the caller's message: the path and errno.
int open_failed(output_streams& streams, const std::string& path) {
    streams.failed_errno = errno;
    streams.failed_path = path;
    return 1;
}

FILE* open_summary(const run_settings& settings, const char* name, output_streams& streams,
                   std::string& path) {
    path = settings.output_dir + name;
    int fd = create_output_file(settings.output_dir_fd, name);
    if (fd < 0) {
        if (errno == ELOOP)
            std::fprintf(stderr, "korvalinde: %s: %s\n", path.c_str(), LINK_REFUSED);
        else
            (void)open_failed(streams, path);
        return nullptr;
    }
    FILE* stream = fdopen(fd, "w");
    if (!stream) {
        (void)open_failed(streams, path);
        (void)close(fd); // empty and unused: only the failure matters
    }
    return stream;
}

} // namespace

int open_files(run_settings& settings, output_streams& streams) {
    streams.input = std::fopen(settings.input_path.c_str(), "r");
    if (!streams.input) return open_failed(streams, settings.input_path);
    std::string error;
    settings.output_dir_fd = open_output_directory(settings.output_dir, error);
    if (settings.output_dir_fd < 0) {
        if (!error.empty())
            std::fprintf(stderr, "korvalinde: %s\n", error.c_str());
        else
            (void)open_failed(streams, settings.output_dir);
        return 1;
    }
    streams.status_file = open_summary(settings, "status.txt", streams, streams.status_path);
    if (!streams.status_file) return 1;
    streams.msd_file = open_summary(settings, "msd.txt", streams, streams.msd_path);
    if (!streams.msd_file) return 1;
    streams.othersets_file =
        open_summary(settings, "othersets.txt", streams, streams.othersets_path);
    if (!streams.othersets_file) return 1;
    streams.other_file = open_summary(settings, "other.txt", streams, streams.other_path);
    if (!streams.other_file) return 1;
    return 0;
}

bool output_failed(FILE* stream, const std::string& path) {
    if (std::fflush(stream) != 0) {
        int error = errno;
        std::fprintf(stderr, "korvalinde: error writing %s: %s\n", path.c_str(),
                     std::strerror(error));
        return true;
    }
    if (std::ferror(stream)) {
        // An earlier write failed; its error number is gone.
        std::fprintf(stderr, "korvalinde: error writing %s\n", path.c_str());
        return true;
    }
    return false;
}

namespace {

// Flushes and closes one summary stream, reporting a failure; true if all of
// it reached the file.
bool close_summary(FILE*& stream, const std::string& path) {
    if (!stream) return true;
    bool failed = output_failed(stream, path);
    if (std::fclose(stream) != 0 && !failed) {
        int error = errno;
        std::fprintf(stderr, "korvalinde: error writing %s: %s\n", path.c_str(),
                     std::strerror(error));
        failed = true;
    }
    stream = nullptr;
    return !failed;
}

} // namespace

int close_results(output_streams& streams) {
    if (streams.input) {
        (void)std::fclose(streams.input); // read-only: nothing can be lost at close
        streams.input = nullptr;
    }
    int status = 0;
    if (!close_summary(streams.status_file, streams.status_path)) status = 1;
    if (!close_summary(streams.msd_file, streams.msd_path)) status = 1;
    if (!close_summary(streams.othersets_file, streams.othersets_path)) status = 1;
    return status;
}

int close_files(output_streams& streams) {
    int status = close_results(streams);
    if (!close_summary(streams.other_file, streams.other_path)) status = 1;
    return status;
}

void withdraw_file(int dir_fd, const char* name) {
    // Called after a failure that has been reported already; if even this
    // fails there is nothing more to say.
    int fd = openat(dir_fd, name, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) (void)close(fd); // nothing was written: no data to lose
}
