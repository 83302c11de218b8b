#include "key_report.h"

#include "output_directory.h"
#include "progress.h"
#include "worker_threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace {

__attribute__((format(printf, 2, 3))) void append_format(std::string& out, const char* format,
                                                         ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    // Every line of a report is far shorter than the buffer.
    if (n > 0) out.append(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

void append_id(std::string& out, const key_graph& g, int32_t k) {
    const key_record& r = g.key_table[static_cast<size_t>(k)];
    append_format(out, "  %08X %08X\n", r.id_high, r.id_low);
}

// One line per key of the list; returns the number of lines.
template <typename Keys>
int32_t print_key_list(std::string& out, const key_graph& g, const Keys& keys) {
    int32_t n = 0;
    for (int32_t k : keys) {
        append_id(out, g, k);
        ++n;
    }
    return n;
}

void write_report_header(std::string& out, const key_graph& g, int32_t key,
                         std::string_view address) {
    const key_record& r = g.key_table[static_cast<size_t>(key)];
    append_format(out, "KeyID %08X %08X\n\n", r.id_high, r.id_low);
    out += "This individual key report was generated as part of the monthly korvalinde\n";
    // Appended as it is: the address may be longer than append_format's buffer.
    out += "report at ";
    out += address;
    out += ".\n\n";
    out += "Note: Key signature counts and lists are from a pruned list that only\n";
    out += "includes keys with signatures other than their own.\n\n";
    out += "Signatures to this key:\n";
    int32_t to = print_key_list(out, g, signed_by(g, key));
    append_format(out, "Total: %d signatures to this id from this set\n\n", to);
    out += "Signatures from this key:\n";
    int32_t from = print_key_list(out, g, signs(g, key));
    append_format(out, "Total: %d signatures from this id to this set\n\n", from);
}

// Writes all of text to the new or emptied file name of the directory
// dir_fd, never through a link; false with errno set on failure.
bool write_whole_file(int dir_fd, const char* name, const std::string& text,
                      const char*& failed_step) {
    failed_step = "cannot open report";
    int fd = create_output_file(dir_fd, name);
    if (fd < 0) return false;
    failed_step = "error writing report";
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            (void)close(fd); // the write error is what gets reported
            errno = error;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return close(fd) == 0;
}

const char* error_text(int error) {
    return error == ELOOP ? LINK_REFUSED : std::strerror(error);
}

// The directories the reports go into, each opened once: the output
// directory itself (not owned here), or the two-character subdirectories,
// keyed by the report name's first byte.
struct report_directories {
    int output_dir = -1;
    int sub[256];
    int sub_error[256] = {}; // errno of a subdirectory that could not be opened

    report_directories() { std::fill(std::begin(sub), std::end(sub), -1); }
    report_directories(const report_directories&) = delete;
    report_directories& operator=(const report_directories&) = delete;
    ~report_directories() {
        for (int fd : sub)
            if (fd >= 0) (void)close(fd); // read-only directory descriptors: nothing to lose
    }
};

} // namespace

void format_key_report(std::string& out, const key_graph& g, const set_results& s, int32_t key,
                       const key_stats& stats, std::string_view address) {
    format_key_report(out, g, s, key, stats, stats.farthest_keys, address);
}

void format_key_report(std::string& out, const key_graph& g, const set_results& s, int32_t key,
                       const key_stats& stats, const std::vector<int32_t>& farthest,
                       std::string_view address) {
    write_report_header(out, g, key, address);
    append_format(out, "This key is %sin the strong set.\n", in_strong_set(s, key) ? "" : "not ");
    append_format(out, "Mean distance to this key from strong set: %8.4f\n\n",
                  static_cast<double>(mean_distance(stats, s.strong_set_size)));
    out += "Breakout by hop count (only from strong set):\n";
    // The row for HOP_LIMIT hops counts the members at that distance or more.
    int32_t max_hops = std::min(stats.max_hops, HOP_LIMIT);
    for (int32_t h = 0; h <= max_hops; ++h)
        append_format(out, "%2d hops: %5d\n", h, stats.hop_counts[h]);
    if (!farthest.empty()) {
        append_format(out, "\nFarthest keys (%d hops):\n", max_hops);
        print_key_list(out, g, farthest);
    }
}

std::string report_directory(const run_settings& settings, uint32_t id_low) {
    if (!settings.use_subdirs) return settings.output_dir;
    char name[9];
    std::snprintf(name, sizeof name, "%08X", id_low);
    return settings.output_dir + std::string(name, 2);
}

std::string report_path(const run_settings& settings, uint32_t id_low) {
    char name[9];
    std::snprintf(name, sizeof name, "%08X", id_low);
    std::string directory = report_directory(settings, id_low);
    if (settings.use_subdirs) directory += '/';
    return directory + name;
}

// The two-character subdirectories, each made and opened once before the
// writers start: most exist already from an earlier key or run, and one
// mkdir per report file would cost a system call per file for nothing. One
// that cannot be used (a link or a file in its place) is reported once, and
// its reports are not written; returns false then. group_id_low(g) is the
// low half of the ids of group g's keys.
template <typename GroupIdLow>
bool open_report_directories(const run_settings& settings, size_t group_count,
                             report_directories& dirs, GroupIdLow group_id_low) {
    bool all_open = true;
    bool tried[256] = {};
    for (size_t group = 0; group < group_count; ++group) {
        uint32_t id_low = group_id_low(group);
        uint32_t first = id_low >> 24;
        if (tried[first]) continue;
        tried[first] = true;
        char name[3];
        std::snprintf(name, sizeof name, "%02X", first);
        dirs.sub[first] = open_output_subdirectory(settings.output_dir_fd, name);
        if (dirs.sub[first] < 0) {
            dirs.sub_error[first] = errno;
            std::fprintf(stderr, "korvalinde: cannot use report directory %s: %s\n",
                         report_directory(settings, id_low).c_str(),
                         error_text(dirs.sub_error[first]));
            all_open = false;
        }
    }
    return all_open;
}

int write_key_reports(const run_settings& settings, const key_graph& g, const set_results& s,
                      distance_table& table) {
    // Positions in table, grouped by id_low and within a group in key-index
    // order: each group is one file with one writer.
    std::vector<size_t> order(table.keys.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    auto id_low_of = [&](size_t i) {
        return g.key_table[static_cast<size_t>(table.keys[i])].id_low;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return id_low_of(a) < id_low_of(b); });
    std::vector<size_t> group_start;
    for (size_t i = 0; i < order.size(); ++i)
        if (i == 0 || id_low_of(order[i]) != id_low_of(order[i - 1])) group_start.push_back(i);
    group_start.push_back(order.size());
    size_t group_count = group_start.size() - 1;

    std::atomic<int> status{0};
    report_directories dirs;
    dirs.output_dir = settings.output_dir_fd;
    if (settings.use_subdirs &&
        !open_report_directories(settings, group_count, dirs, [&](size_t group) {
            return id_low_of(order[group_start[group]]);
        }))
        status = 1;

    progress_phase progress("reports", static_cast<int64_t>(group_count), "files");
    constexpr size_t CHUNK = 16;
    std::atomic<size_t> next_group{0};
    auto work = [&] {
        std::string text;
        std::vector<int32_t> farthest;
        for (;;) {
            size_t first = next_group.fetch_add(CHUNK);
            if (first >= group_count) return;
            size_t last = std::min(first + CHUNK, group_count);
            progress_advance(static_cast<int64_t>(last - first));
            for (size_t group = first; group < last; ++group) {
                text.clear();
                // Each key's farthest list is given up as soon as its report
                // is formatted.
                for (size_t i = group_start[group]; i < group_start[group + 1]; ++i) {
                    format_key_report(text, g, s, table.keys[order[i]], table.stats[order[i]],
                                      farthest_keys_of(table, order[i], farthest),
                                      settings.report_address);
                    farthest_keys_used(table, order[i]);
                }
                uint32_t id_low = id_low_of(order[group_start[group]]);
                int dir_fd = settings.use_subdirs ? dirs.sub[id_low >> 24] : dirs.output_dir;
                if (dir_fd < 0) continue; // its directory has been reported
                char name[9];
                std::snprintf(name, sizeof name, "%08X", id_low);
                const char* failed_step = nullptr;
                if (!write_whole_file(dir_fd, name, text, failed_step)) {
                    int error = errno;
                    std::fprintf(stderr, "korvalinde: %s %s: %s\n", failed_step,
                                 report_path(settings, id_low).c_str(), error_text(error));
                    status = 1;
                }
            }
        }
    };
    run_on_threads(settings.threads, work);
    return status;
}
