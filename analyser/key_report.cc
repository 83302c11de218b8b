#include "key_report.h"

#include "progress.h"
#include "worker_threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

void write_report_header(std::string& out, const key_graph& g, int32_t key) {
    const key_record& r = g.key_table[static_cast<size_t>(key)];
    append_format(out, "KeyID %08X %08X\n\n", r.id_high, r.id_low);
    out += "This individual key report was generated as part of the monthly korvalinde\n";
    append_format(out, "report at %s.\n\n", REPORT_ADDRESS);
    out += "Note: Key signature counts and lists are from a pruned list that only\n";
    out += "includes keys with signatures other than their own.\n\n";
    out += "Signatures to this key:\n";
    int32_t to = print_key_list(out, g, signed_by(g, key));
    append_format(out, "Total: %d signatures to this id from this set\n\n", to);
    out += "Signatures from this key:\n";
    int32_t from = print_key_list(out, g, signs(g, key));
    append_format(out, "Total: %d signatures from this id to this set\n\n", from);
}

// Writes all of text to a new or emptied file; false with errno set on failure.
bool write_whole_file(const std::string& path, const std::string& text, const char*& failed_step) {
    failed_step = "cannot open report";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
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

} // namespace

void format_key_report(std::string& out, const key_graph& g, const set_results& s, int32_t key,
                       const key_stats& stats) {
    format_key_report(out, g, s, key, stats, stats.farthest_keys);
}

void format_key_report(std::string& out, const key_graph& g, const set_results& s, int32_t key,
                       const key_stats& stats, const std::vector<int32_t>& farthest) {
    write_report_header(out, g, key);
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

    // The two-character subdirectories, each made once before the writers
    // start: most exist already from an earlier key or run, and one mkdir
    // per report file would cost a system call per file for nothing. A real
    // failure shows when the report is opened.
    if (settings.use_subdirs) {
        bool made[256] = {};
        for (size_t group = 0; group < group_count; ++group) {
            uint32_t id_low = id_low_of(order[group_start[group]]);
            if (made[id_low >> 24]) continue;
            made[id_low >> 24] = true;
            (void)mkdir(report_directory(settings, id_low).c_str(), 0755);
        }
    }

    progress_phase progress("reports", static_cast<int64_t>(group_count), "files");
    constexpr size_t CHUNK = 16;
    std::atomic<size_t> next_group{0};
    std::atomic<int> status{0};
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
                                      farthest_keys_of(table, order[i], farthest));
                    farthest_keys_used(table, order[i]);
                }
                uint32_t id_low = id_low_of(order[group_start[group]]);
                std::string path = report_path(settings, id_low);
                const char* failed_step = nullptr;
                if (!write_whole_file(path, text, failed_step)) {
                    int error = errno;
                    std::fprintf(stderr, "korvalinde: %s %s: %s\n", failed_step, path.c_str(),
                                 std::strerror(error));
                    status = 1;
                }
            }
        }
    };
    run_on_threads(settings.threads, work);
    return status;
}
