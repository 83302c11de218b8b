#include "report_files.h"

#include "line_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

std::string report_name(report_layout layout, uint32_t id_low) {
    char name[9];
    std::snprintf(name, sizeof name, "%08X", id_low);
    if (layout == report_layout::flat) return name;
    return std::string(name, 2) + "/" + name;
}

namespace {

// True when path names a regular file; its modification time in mtime.
bool regular_file(const std::string& path, timespec& mtime) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false; // missing or unreachable: not this layout
    mtime = st.st_mtim;
    return S_ISREG(st.st_mode);
}

bool newer(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

} // namespace

report_layout find_report_layout(const std::string& dir, uint32_t id_low) {
    std::string nested = dir + report_name(report_layout::subdirs, id_low);
    std::string flat = dir + report_name(report_layout::flat, id_low);
    timespec nested_time{}, flat_time{};
    bool has_nested = regular_file(nested, nested_time);
    bool has_flat = regular_file(flat, flat_time);
    if (has_nested && has_flat)
        return newer(flat_time, nested_time) ? report_layout::flat : report_layout::subdirs;
    if (has_nested) return report_layout::subdirs;
    if (has_flat) return report_layout::flat;
    throw input_error(nested + ": no report for the best-ranked key (nor " + flat + ")");
}

std::vector<int64_t> read_hop_counts(const std::string& dir, report_layout layout, key_id id) {
    line_reader reader(dir + report_name(layout, id.id_low));
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "KeyID %08X %08X", id.id_high, id.id_low);
    enum { SEEK_KEY, SEEK_BREAKOUT, ROWS } state = SEEK_KEY;
    std::vector<int64_t> counts;
    std::string_view line;
    while (next_line(reader, line)) {
        if (state == SEEK_KEY) {
            if (line == wanted) state = SEEK_BREAKOUT;
            continue;
        }
        if (line.starts_with("KeyID ")) break; // the next key's report
        if (state == SEEK_BREAKOUT) {
            if (line == "Breakout by hop count (only from strong set):") state = ROWS;
            continue;
        }
        // "%2d hops: %5d", numbered from 0 without gaps.
        int hops = -1;
        long long count = -1;
        int consumed = 0;
        std::string row(line);
        if (std::sscanf(row.c_str(), "%d hops: %lld%n", &hops, &count, &consumed) != 2 ||
            static_cast<size_t>(consumed) != row.size()) {
            if (line.empty() && !counts.empty()) return counts;
            fail_at_line(reader.path, reader.line_number,
                         "expected a hop count row, found " + quote_line(line));
        }
        if (hops != static_cast<int>(counts.size()) || count < 0)
            fail_at_line(reader.path, reader.line_number,
                         "hop count rows out of order at " + quote_line(line));
        counts.push_back(count);
    }
    if (state == ROWS && !counts.empty()) return counts;
    throw input_error(reader.path + ": no hop counts for key " + std::string(wanted + 6));
}
