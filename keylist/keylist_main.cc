// korvalinde-keylist: turns OpenPGP key data (keyrings, keyserver dumps,
// armored keys), or gpg's machine-readable listing of keys and signatures,
// into the key list korvalinde reads. Inputs are parsed as they stream in;
// the key list is written only once every input has been read without
// error, atomically with -o.
#include "atomic_file.h"
#include "file_io.h"
#include "key_list_table.h"
#include "keylist_inputs.h"
#include "keylist_options.h"
#include "program_messages.h"

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

// Writes the key list to path atomically (atomic_file.h): on any failure
// path is left as it was and no temporary remains.
bool write_to_file(const std::string& path, const file_producer& produce) {
    atomic_file file;
    bool ok = atomic_open(file, path);
    if (ok) {
        auto write = [&file](const char* data, size_t size) {
            return atomic_write(file, data, size);
        };
        ok = produce(write) && atomic_commit(file);
    }
    if (ok) return true;
    const char* what = "write error";
    switch (file.failed_step) {
    case atomic_step::create:
        what = "cannot create a temporary file beside it";
        break;
    case atomic_step::set_mode:
        what = "cannot set the mode of the temporary file";
        break;
    case atomic_step::rename:
        what = "cannot rename the temporary file into place";
        break;
    default:
        break;
    }
    errno = file.error;
    report_errno(path, what);
    return false;
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
    set_program_name("korvalinde-keylist");
    end_on_out_of_memory();
    try {
        // The options are inside too: their strings can fail to allocate.
        keylist_settings settings;
        if (std::optional<int> status = read_keylist_options(argc, argv, settings)) return *status;
        return run(settings);
    } catch (const std::bad_alloc&) {
        return report_out_of_memory();
    }
}
