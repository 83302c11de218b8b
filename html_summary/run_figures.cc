#include "run_figures.h"

#include "line_reader.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace {

bool parse_hex_half(std::string_view text, uint32_t& half) {
    if (text.size() < 8) return false;
    half = 0;
    for (char c : text.substr(0, 8)) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return false;
        half = half << 4 | digit;
    }
    return true;
}

// A whole text of decimal digits, at most 18 of them.
bool parse_count(std::string_view text, int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && text[0] != '-' &&
           text[0] != '+';
}

// Parses "PREFIX<count>SUFFIX" exactly.
bool parse_counted(std::string_view line, std::string_view prefix, std::string_view suffix,
                   int64_t& value) {
    if (line.size() < prefix.size() + suffix.size() || !line.starts_with(prefix) ||
        !line.ends_with(suffix))
        return false;
    return parse_count(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()),
                       value);
}

} // namespace

bool parse_key_id(std::string_view text, key_id& id) {
    return text.size() >= 17 && text[8] == ' ' && parse_hex_half(text, id.id_high) &&
           parse_hex_half(text.substr(9), id.id_low);
}

bool parse_mean(std::string_view text, mean_e4& mean) {
    size_t i = text.find_first_not_of(' ');
    if (i == std::string_view::npos) return false;
    text.remove_prefix(i);
    size_t dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || text.size() - dot - 1 != 4) return false;
    int64_t whole, fraction;
    if (!parse_count(text.substr(0, dot), whole) || !parse_count(text.substr(dot + 1), fraction) ||
        whole > 100000000000000)
        return false;
    mean = whole * 10000 + fraction;
    return true;
}

std::string format_mean(mean_e4 mean) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%04lld", static_cast<long long>(mean / 10000),
                  static_cast<long long>(mean % 10000));
    return text;
}

std::string quote_line(std::string_view line) {
    std::string quoted = "\"";
    for (char c : line.substr(0, 60))
        quoted += c >= ' ' && c <= '~' ? c : '?';
    if (line.size() > 60) quoted += "...";
    return quoted + "\"";
}

void read_status(const std::string& dir, run_figures& figures) {
    line_reader reader(dir + "status.txt");
    // The lines of a complete run, in order; progress lines may repeat
    // between the second "Importing" and the last "done.".
    enum step {
        PASS1,
        PASS1_DONE,
        KEYS,
        PASS2,
        SIGS,
        REACHABLE,
        STRONG,
        COMPLETE
    } expected = PASS1;
    std::string_view line;
    while (next_line(reader, line)) {
        int64_t value = 0;
        bool ok = false;
        if (line == "Error finding key in pass 2.")
            fail_at_line(reader.path, reader.line_number,
                         "the analyser stopped: the key list changed while it was read");
        switch (expected) {
        case PASS1:
            ok = line == "Importing pass 1 (keys)...";
            break;
        case PASS1_DONE:
            ok = line == "done.";
            break;
        case KEYS:
            ok = parse_counted(line, "", " keys imported", figures.keys);
            break;
        case PASS2:
            ok = line == "Importing pass 2 (sigs)...";
            break;
        case SIGS:
            if (parse_counted(line, "", " sigs imported...", value) || line == "done.") {
                continue; // progress, and the end of the pass before the total
            }
            ok = parse_counted(line, "", " sigs imported", figures.signatures);
            break;
        case REACHABLE:
            ok = parse_counted(line, "reachable set is size ", "", figures.reachable_size);
            break;
        case STRONG:
            ok =
                parse_counted(line, "strongly connected set is size ", "", figures.strong_set_size);
            break;
        case COMPLETE:
            break;
        }
        if (!ok)
            fail_at_line(reader.path, reader.line_number, "unexpected line " + quote_line(line));
        expected = static_cast<step>(expected + 1);
    }
    if (expected != COMPLETE)
        throw input_error(reader.path + ": incomplete: the analyser's run did not finish");
}

void read_other(const std::string& dir, run_figures& figures) {
    line_reader reader(dir + "other.txt");
    std::string_view line;
    if (!next_line(reader, line))
        throw input_error(reader.path + ": empty: the analyser's run did not finish");
    constexpr std::string_view prefix = "Average mean is ";
    if (!line.starts_with(prefix) || !parse_mean(line.substr(prefix.size()), figures.average_mean))
        fail_at_line(reader.path, reader.line_number, "unexpected line " + quote_line(line));
    if (next_line(reader, line))
        fail_at_line(reader.path, reader.line_number, "unexpected line " + quote_line(line));
}

void read_othersets(const std::string& dir, run_figures& figures, const std::vector<key_id>& ranked,
                    std::vector<char>& in_strong_set) {
    size_t ranked_count = ranked.size();
    // Positions of the ranked ids, sorted by id for the lookups.
    std::vector<size_t> by_id(ranked_count);
    for (size_t i = 0; i < ranked_count; ++i)
        by_id[i] = i;
    std::sort(by_id.begin(), by_id.end(),
              [&](size_t a, size_t b) { return ranked[a] < ranked[b]; });
    in_strong_set.assign(ranked_count, 0);

    line_reader reader(dir + "othersets.txt");
    figures.set_count = 0;
    figures.single_key_sets = 0;
    int64_t largest = 0;
    int64_t members = 0;              // id lines of the current set
    std::vector<size_t> ranked_found; // ranked keys in the current set
    std::vector<size_t> ranked_in_largest;
    bool expect_empty = false;
    std::string_view line;
    while (next_line(reader, line)) {
        if (expect_empty) {
            if (!line.empty())
                fail_at_line(reader.path, reader.line_number,
                             "expected an empty line after the count line, found " +
                                 quote_line(line));
            expect_empty = false;
            continue;
        }
        key_id id;
        if (line.size() == 17 && parse_key_id(line, id)) {
            ++members;
            auto it = std::lower_bound(by_id.begin(), by_id.end(), id,
                                       [&](size_t a, const key_id& b) { return ranked[a] < b; });
            for (; it != by_id.end() && ranked[*it] == id; ++it)
                ranked_found.push_back(*it);
            continue;
        }
        int64_t count;
        if (!parse_counted(line, "*** ", " keys in this strongly connected set", count))
            fail_at_line(reader.path, reader.line_number, "unexpected line " + quote_line(line));
        if (count != members || count == 0)
            fail_at_line(reader.path, reader.line_number,
                         "the set has " + std::to_string(members) + " id lines, not " +
                             std::to_string(count));
        ++figures.set_count;
        if (count == 1) ++figures.single_key_sets;
        // The first set of the largest size is the strong set.
        if (count > largest) {
            largest = count;
            ranked_in_largest.swap(ranked_found);
        }
        ranked_found.clear();
        members = 0;
        expect_empty = true;
    }
    if (members != 0 || expect_empty)
        throw input_error(reader.path + ": incomplete: the last set has no count line");
    if (largest != figures.strong_set_size)
        throw input_error(reader.path + ": its largest set has " + std::to_string(largest) +
                          " keys, but status.txt gives the strong set " +
                          std::to_string(figures.strong_set_size) +
                          " (files from different runs?)");
    for (size_t i : ranked_in_largest)
        in_strong_set[i] = 1;
}
