// korvalinde-keylist: turns gpg's machine-readable listing of keys and
// signatures into the key list korvalinde reads. The listing is parsed as it
// streams in; the key list is written only once the whole listing has been
// read without error, atomically with -o.
#include "atomic_file.h"
#include "file_io.h"
#include "key_list_table.h"
#include "keylist_options.h"
#include "listing_parser.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t READ_BLOCK = 1 << 20;

void report_errno(const std::string& name, const char* what) {
    std::fprintf(stderr, "korvalinde-keylist: %s: %s: %s\n", name.c_str(), what,
                 std::strerror(errno));
}

// Reads the whole listing from fd into the parser. Returns false after a
// reported read error or malformed line.
bool read_listing(int fd, const std::string& name, listing_parser& parser) {
    std::unique_ptr<char[]> buffer(new char[READ_BLOCK]);
    for (;;) {
        const ssize_t n = read(fd, buffer.get(), READ_BLOCK);
        if (n < 0) {
            if (errno == EINTR) continue;
            report_errno(name, "read error");
            return false;
        }
        if (n == 0) break;
        if (!feed_listing(parser, buffer.get(), static_cast<size_t>(n))) break;
    }
    if (!parser.failed) finish_listing(parser);
    if (parser.failed) {
        std::fprintf(stderr, "korvalinde-keylist: %s:%llu: %s\n", name.c_str(),
                     static_cast<unsigned long long>(parser.error_line), parser.error.c_str());
        return false;
    }
    return true;
}

// Writes the key list to standard output.
bool write_to_stdout(const key_list_table& table, written_counts& counts) {
    auto write = [](const char* data, size_t size) { return write_all(STDOUT_FILENO, data, size); };
    if (!write_key_list(table, write, counts)) {
        report_errno("standard output", "write error");
        return false;
    }
    return true;
}

// Writes the key list to path atomically (atomic_file.h): on any failure
// path is left as it was and no temporary remains.
bool write_to_file(const std::string& path, const key_list_table& table, written_counts& counts) {
    atomic_file file;
    bool ok = atomic_open(file, path);
    if (ok) {
        auto write = [&file](const char* data, size_t size) {
            return atomic_write(file, data, size);
        };
        ok = write_key_list(table, write, counts) && atomic_commit(file);
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
    const bool from_stdin = settings.input_path == "-";
    const std::string input_name = from_stdin ? "standard input" : settings.input_path;
    int fd = STDIN_FILENO;
    if (!from_stdin) {
        fd = open(settings.input_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            report_errno(input_name, "cannot open");
            return 1;
        }
    }

    key_list_table table;
    listing_parser parser;
    parser.rules = settings.rules;
    parser.sink = [&table](uint64_t id, bool kept, const std::vector<uint64_t>& signers) {
        add_key_block(table, id, kept, signers);
    };
    const bool read_ok = read_listing(fd, input_name, parser);
    // Only read from; a failed close loses nothing.
    if (!from_stdin) (void)close(fd);
    if (!read_ok) return 1;

    written_counts written;
    const bool ok = settings.output_path == "-"
                        ? write_to_stdout(table, written)
                        : write_to_file(settings.output_path, table, written);
    if (!ok) return 1;
    if (settings.verbose > 0) print_summary(parser.counts, written);
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
