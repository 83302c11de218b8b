// The page itself: one self-contained HTML document with inline CSS and
// inline SVG, and nothing that changes between two runs on the same
// directory unless a date is asked for.
#pragma once

#include "mean_ranking.h"
#include "report_files.h"
#include "run_figures.h"

#include <string>
#include <string_view>
#include <vector>

struct page_content {
    std::string title;
    std::string made_on; // shown when not empty
    run_figures figures;
    int64_t analysed_keys = 0;          // lines of msd.txt
    std::vector<ranked_key> ranking;    // best first, at most the ranking limit
    std::vector<char> ranked_in_strong; // one flag per ranking entry
    std::string report_prefix; // from the page to the output directory, "" or ending in "/"
    report_layout layout = report_layout::subdirs;
    std::vector<histogram_bin> bins;      // of every analysed key's mean
    std::vector<int64_t> best_hop_counts; // from the best-ranked key's report
};

// Where the page goes: a descriptor written through a buffer, or with fd
// -1 only the buffer (for tests). The first write error is kept in error
// and later writes are skipped.
struct page_output {
    int fd = -1;
    std::string buffer;
    int error = 0;
};

void put(page_output& out, std::string_view text);
// Writes what the buffer holds; false (with out.error set) on failure.
bool flush_page(page_output& out);

void write_summary_page(page_output& out, const page_content& content);
