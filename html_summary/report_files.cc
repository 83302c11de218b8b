#include "report_files.h"

#include "line_reader.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
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

// Blanks, then decimal digits up to the next non-digit; false when there are
// none or the number does not fit.
bool take_number(std::string_view& text, int64_t& value) {
    size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return false;
    text.remove_prefix(start);
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()) return false;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return true;
}

// A whole "%2d hops: %5d" row.
bool parse_hop_row(std::string_view row, int64_t& hops, int64_t& count) {
    constexpr std::string_view middle = " hops:";
    if (!take_number(row, hops) || !row.starts_with(middle)) return false;
    row.remove_prefix(middle.size());
    return take_number(row, count) && row.empty();
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

key_report read_key_report(const std::string& dir, report_layout layout, key_id id) {
    line_reader reader(dir + report_name(layout, id.id_low));
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "KeyID %08X %08X", id.id_high, id.id_low);
    enum { SEEK_KEY, SEEK_BREAKOUT, ROWS, AFTER_ROWS } state = SEEK_KEY;
    key_report report;
    std::string_view line;
    while (next_line(reader, line)) {
        if (state == SEEK_KEY) {
            if (line != wanted) continue;
            state = SEEK_BREAKOUT;
        } else if (line.starts_with("KeyID ")) {
            break; // the next key's report
        } else if (state == SEEK_BREAKOUT) {
            if (line == "Breakout by hop count (only from strong set):") state = ROWS;
        } else if (state == ROWS) {
            // Rows numbered from 0 without gaps, ended by an empty line.
            int64_t hops = -1;
            int64_t count = -1;
            if (line.empty() && !report.hop_counts.empty()) {
                state = AFTER_ROWS;
            } else if (!parse_hop_row(line, hops, count)) {
                fail_at_line(reader.path, reader.line_number,
                             "expected a hop count row, found " + quote_line(line));
            } else if (hops != static_cast<int64_t>(report.hop_counts.size())) {
                fail_at_line(reader.path, reader.line_number,
                             "hop count rows out of order at " + quote_line(line));
            } else {
                report.hop_counts.push_back(count);
            }
        }
        report.text.append(line);
        report.text += '\n';
    }
    if (state != SEEK_KEY && state != SEEK_BREAKOUT && !report.hop_counts.empty()) return report;
    throw input_error(reader.path + ": no hop counts for key " + std::string(wanted + 6));
}

std::vector<int64_t> read_hop_counts(const std::string& dir, report_layout layout, key_id id) {
    return read_key_report(dir, layout, id).hop_counts;
}
