// The figures of one analyser run, read from its summary files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A key id as the analyser prints it: "%08X %08X", id_high first.
struct key_id {
    uint32_t id_high = 0;
    uint32_t id_low = 0;
    friend auto operator<=>(const key_id&, const key_id&) = default;
};

// Mean distances are printed with four decimals; they are kept exactly, in
// ten-thousandths, so that ranking and bins agree with what the files show.
using mean_e4 = int64_t;

struct run_figures {
    int64_t keys = 0;       // "N keys imported"
    int64_t signatures = 0; // "N sigs imported"
    int64_t reachable_size = 0;
    int64_t strong_set_size = 0;
    mean_e4 average_mean = 0; // from other.txt
    int64_t set_count = 0;    // strongly connected sets in othersets.txt
    int64_t single_key_sets = 0;
};

// Parses "%08X %08X" (upper-case digits only) at the start of text; false
// when text does not start with a key id.
bool parse_key_id(std::string_view text, key_id& id);

// Parses a non-negative decimal with exactly four decimals ("12.3456"),
// optionally preceded by blanks; false on anything else.
bool parse_mean(std::string_view text, mean_e4& mean);

// "3.8710" for 38710.
std::string format_mean(mean_e4 mean);

// Each throws input_error naming the file (and line) when the file is
// missing, unreadable or not in the analyser's format. dir ends in "/".
void read_status(const std::string& dir, run_figures& figures);
void read_other(const std::string& dir, run_figures& figures);

// Streams othersets.txt: counts the sets and the sets of one key, checks
// each count line against its id lines and the largest set against the
// strong set size read from status.txt, and sets in_strong_set[i] for each
// ranked[i] that is a member of the strong set (the first largest set).
void read_othersets(const std::string& dir, run_figures& figures, const std::vector<key_id>& ranked,
                    std::vector<char>& in_strong_set);

// A line quoted for a message: at most 60 characters, bytes outside
// printable ASCII shown as "?".
std::string quote_line(std::string_view line);
