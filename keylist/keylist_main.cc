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
#include "keylist_summary.h"
#include "program_messages.h"
#include "verdict_cache.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
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

void report_file_error(const std::string& path, const atomic_file& file) {
    const char* what = atomic_step_text(file.failed_step);
    errno = file.error;
    report_errno(path, what);
}

// Writes a file to standard output when path is "-", else to a temporary
// beside path (atomic_file.h) that commit_output renames into place: until
// then path is left as it was, and no temporary remains after a failure.
bool write_output(const std::string& path, atomic_file& file, const file_producer& produce) {
    if (path == "-") return write_to_stdout(produce);
    bool ok = atomic_open(file, path);
    if (ok) {
        auto write = [&file](const char* data, size_t size) {
            return atomic_write(file, data, size);
        };
        ok = produce(write);
    }
    if (!ok) report_file_error(path, file);
    return ok;
}

// Puts a file written by write_output into place; nothing to do for
// standard output or a file not written.
bool commit_output(atomic_file& file) {
    if (file.path.empty() || atomic_commit(file)) return true;
    report_file_error(file.path, file);
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

// Whether path names the same file as other (or will: the same text).
bool same_file(const std::string& path, const struct stat& file, bool exists,
               const std::string& other) {
    if (path == other) return true;
    struct stat other_file {};
    return exists && other != "-" && stat(other.c_str(), &other_file) == 0 &&
           other_file.st_dev == file.st_dev && other_file.st_ino == file.st_ino;
}

// The cache is replaced at the end of the run: it must not be an input or
// another output. A link at its name is replaced itself, so its own inode
// is the one compared.
bool cache_path_free(const keylist_settings& settings) {
    const std::string& path = settings.cache_path;
    struct stat file {};
    const bool exists = lstat(path.c_str(), &file) == 0;
    bool clash = same_file(path, file, exists, settings.output_path) ||
                 same_file(path, file, exists, settings.names_path) ||
                 same_file(path, file, exists, settings.summary_path);
    for (const std::string& input : settings.input_paths)
        clash = clash || same_file(path, file, exists, input);
    if (clash)
        std::fprintf(stderr, "korvalinde-keylist: '%s': the cache is also an input or output\n",
                     path.c_str());
    return !clash;
}

// Reads the cache; a file that cannot be used is one warning, never a failure.
void load_cache(const std::string& path, verdict_cache& cache) {
    std::string reason;
    if (read_verdict_cache(path, cache, reason) == cache_read_result::ignored)
        std::fprintf(stderr, "korvalinde-keylist: '%s': cache ignored: %s\n", path.c_str(),
                     reason.c_str());
}

// Writes the cache after a successful run; a failure leaves the key list
// right and is one warning.
void save_cache(const std::string& path, verdict_cache& cache) {
    std::string reason;
    if (!write_verdict_cache(path, cache, reason))
        std::fprintf(stderr, "korvalinde-keylist: '%s': cache not written: %s\n", path.c_str(),
                     reason.c_str());
}

int run(const keylist_settings& settings) {
    keylist_reading reading;
    // Without verification there is nothing to take from the cache, and
    // writing it would drop every entry: it is left as it is.
    const bool cached = !settings.cache_path.empty() && settings.verify;
    if (cached && !cache_path_free(settings)) return 1;
    verdict_cache cache;
    if (cached) {
        load_cache(settings.cache_path, cache);
        reading.openpgp.cache = &cache;
    }
    if (!read_keylist_inputs(settings, reading)) return 1;

    written_counts written;
    auto key_list = [&](const file_writer& write) {
        return write_key_list(reading.table, write, written);
    };
    auto names = [&reading](const file_writer& write) { return write_names(reading, write); };
    auto summary = [&](const file_writer& write) {
        std::string text = keylist_summary_text(settings.input_paths, reading.counts, written.keys,
                                                written.signatures, std::time(nullptr));
        return write(text.data(), text.size());
    };
    // All files are written whole before any is put in place, and the
    // others after the key list: a run that fails leaves the old key list
    // and the files that belong with it as they were.
    atomic_file list_file;
    atomic_file names_file;
    atomic_file summary_file;
    if (!write_output(settings.output_path, list_file, key_list)) return 1;
    if (!settings.names_path.empty() && !write_output(settings.names_path, names_file, names))
        return 1;
    if (!settings.summary_path.empty() &&
        !write_output(settings.summary_path, summary_file, summary))
        return 1;
    if (!commit_output(list_file) || !commit_output(names_file) || !commit_output(summary_file))
        return 1;
    if (cached) save_cache(settings.cache_path, cache);
    if (settings.verbose > 0) {
        print_summary(reading.counts, written);
        print_openpgp_summary(reading);
        if (cached)
            std::fprintf(stderr,
                         "korvalinde-keylist: verdict cache: %llu verdicts from the cache, %llu "
                         "signatures verified\n",
                         static_cast<unsigned long long>(cache.hits.load()),
                         static_cast<unsigned long long>(cache.verified.load()));
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
