// korvalinde-keylist: turns OpenPGP key data (keyrings, keyserver dumps,
// armored keys), or gpg's machine-readable listing of keys and signatures,
// into the key list korvalinde reads. Inputs are parsed as they stream in;
// the key list is written only once every input has been read without
// error, to a temporary file renamed into place with -o.
#include "key_list_table.h"
#include "keylist_inputs.h"
#include "keylist_options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {


void report_errno(const std::string& name, const char* what) {
    std::fprintf(stderr, "korvalinde-keylist: %s: %s: %s\n", name.c_str(), what,
                 std::strerror(errno));
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// What a file is made of: the producer writes it through the function given.
using file_writer = std::function<bool(const char*, size_t)>;
using file_producer = std::function<bool(const file_writer&)>;

// Writes the key list to standard output.
bool write_to_stdout(const file_producer& produce) {
    auto write = [](const char* data, size_t size) { return write_all(STDOUT_FILENO, data, size); };
    if (!produce(write)) {
        report_errno("standard output", "write error");
        return false;
    }
    return true;
}

// Writes the key list to a temporary file beside path and renames it into
// place; on any failure the temporary is removed and path is left as it was.
bool write_to_file(const std::string& path, const file_producer& produce) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        report_errno(path, "cannot create a temporary file beside it");
        return false;
    }
    // mkstemp makes the file readable by its owner only; give it the mode a
    // newly created file gets.
    const mode_t mask = umask(0);
    umask(mask); // restores the mask; the call cannot fail
    bool ok = fchmod(fd, 0666 & ~mask) == 0;
    const char* what = "cannot set the mode of the temporary file";
    if (ok) {
        auto write = [fd](const char* data, size_t size) { return write_all(fd, data, size); };
        try {
            ok = produce(write);
        } catch (...) {
            // Out of memory while building a chunk: the temporary must not
            // outlive the run. Neither call can make matters worse here.
            (void)close(fd);
            (void)unlink(temporary.c_str());
            throw;
        }
        what = "write error";
    }
    // Data reach the disk before the name does, so a crash never leaves a
    // truncated list under the final name.
    if (ok && fsync(fd) != 0) ok = false;
    const int saved_errno = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
    } else if (!ok) {
        errno = saved_errno;
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        what = "cannot rename the temporary file into place";
    }
    if (!ok) {
        report_errno(path, what);
        // The temporary is ours and incomplete; if it cannot be removed there
        // is nothing better to do than leave it.
        (void)unlink(temporary.c_str());
    }
    return ok;
}

void print_summary(const keylist_counts& c, const written_counts& w) {
    std::fprintf(stderr,
                 "korvalinde-keylist: %llu keys read, %llu keys written, %llu signatures "
                 "written\n"
                 "korvalinde-keylist: keys left out: %llu revoked, %llu expired\n"
                 "korvalinde-keylist: %llu certifications read, dropped: %llu self, %llu "
                 "revoked, %llu expired, %llu bad\n",
                 static_cast<unsigned long long>(c.keys_read),
                 static_cast<unsigned long long>(w.keys),
                 static_cast<unsigned long long>(w.signatures),
                 static_cast<unsigned long long>(c.keys_revoked),
                 static_cast<unsigned long long>(c.keys_expired),
                 static_cast<unsigned long long>(c.certifications_seen),
                 static_cast<unsigned long long>(c.dropped_self),
                 static_cast<unsigned long long>(c.dropped_revoked),
                 static_cast<unsigned long long>(c.dropped_expired),
                 static_cast<unsigned long long>(c.dropped_bad));
}

int run(const keylist_settings& settings) {
    keylist_reading reading;
    reading.progress = isatty(STDERR_FILENO) == 1;
    if (!read_keylist_inputs(settings, reading)) return 1;

    if (!settings.names_path.empty()) {
        auto names = [&reading](const file_writer& write) { return write_names(reading, write); };
        const bool ok = settings.names_path == "-" ? write_to_stdout(names)
                                                   : write_to_file(settings.names_path, names);
        if (!ok) return 1;
    }
    written_counts written;
    auto key_list = [&](const file_writer& write) {
        return write_key_list(reading.table, write, written);
    };
    const bool ok = settings.output_path == "-" ? write_to_stdout(key_list)
                                                : write_to_file(settings.output_path, key_list);
    if (!ok) return 1;
    if (settings.verbose > 0) {
        print_summary(reading.counts, written);
        print_openpgp_summary(reading);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        // The options are inside too: their strings can fail to allocate.
        keylist_settings settings;
        if (std::optional<int> status = read_keylist_options(argc, argv, settings)) return *status;
        return run(settings);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "korvalinde-keylist: not enough memory\n");
        return 1;
    }
}
