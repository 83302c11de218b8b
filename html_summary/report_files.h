// Where the analyser's per-key reports are, and the hop counts in one.
#pragma once

#include "run_figures.h"

#include <string>
#include <vector>

// Reports lie in two-character subdirectories ("5C/5C020968"), or directly
// in the output directory ("5C020968") when the analyser ran with -1.
enum class report_layout { subdirs, flat };

// The report's path relative to the output directory.
std::string report_name(report_layout layout, uint32_t id_low);

// The layout under which the report of id_low exists in dir (ending in
// "/"). When both exist (two runs with different layouts into one
// directory), the newer file wins, since a run rewrites every report it
// lists. Throws input_error when neither exists.
report_layout find_report_layout(const std::string& dir, uint32_t id_low);

// One key's section of a report file: from its KeyID line up to the next
// key's (a shared report holds several keys), and the hop counts in it.
struct key_report {
    std::string text; // the section's lines, each with its line end
    std::vector<int64_t> hop_counts;
};

// Reads the section of key id; throws input_error like read_hop_counts.
key_report read_key_report(const std::string& dir, report_layout layout, key_id id);

// The strong set's members by hop count from the key, one count per row of
// the "Breakout by hop count" section of its report (a shared report holds
// several keys; the one whose KeyID line matches is read). Throws
// input_error when the file is missing or the key's section is not there.
std::vector<int64_t> read_hop_counts(const std::string& dir, report_layout layout, key_id id);
