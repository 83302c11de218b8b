#include "output_files.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FILE* open_summary(const run_settings& settings, const char* name, std::string& path) {
    path = settings.output_dir + name;
    return std::fopen(path.c_str(), "w");
}

} // namespace

int open_files(const run_settings& settings, output_streams& streams) {
    streams.input = std::fopen(settings.input_path.c_str(), "r");
    if (!streams.input) return 1;
    // An existing directory is the normal case, and any real failure shows
    // when the first summary file is opened, so the result is not needed.
    (void)mkdir(settings.output_dir.c_str(), 0755);
    streams.status_file = open_summary(settings, "status.txt", streams.status_path);
    if (!streams.status_file) return 1;
    streams.msd_file = open_summary(settings, "msd.txt", streams.msd_path);
    if (!streams.msd_file) return 1;
    streams.othersets_file = open_summary(settings, "othersets.txt", streams.othersets_path);
    if (!streams.othersets_file) return 1;
    streams.other_file = open_summary(settings, "other.txt", streams.other_path);
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

void withdraw_file(const std::string& path) {
    // Called after a failure that has been reported already; if even this
    // fails there is nothing more to say.
    (void)truncate(path.c_str(), 0);
}
