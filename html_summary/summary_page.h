// The page itself: one self-contained HTML document with inline CSS and
// inline SVG, and nothing that changes between two runs on the same
// directory unless a date is asked for.
#pragma once

#include "mean_ranking.h"
#include "names_file.h"
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
    std::vector<ranked_key> ranking;    // best first, every key with a page or a row
    size_t ranking_shown = 0;           // rows of the ranking table
    size_t page_count = 0;              // the first page_count keys have a page
    std::vector<char> ranked_in_strong; // one flag per ranking entry
    std::string report_prefix; // from the page to the output directory, "" or ending in "/"
    report_layout layout = report_layout::subdirs;
    std::vector<histogram_bin> bins;      // of every analysed key's mean
    std::vector<int64_t> best_hop_counts; // from the best-ranked key's report
    const key_names* names = nullptr;     // -N: user ids shown beside key ids
    // -s: the key list's making as korvalinde-keylist recorded it, name and value.
    std::vector<std::pair<std::string, std::string>> inputs;
    bool search = true; // the search box (search.js and index/ beside the page)
};

// The version shown on the pages.
extern const char* const PROGRAM_VERSION;

// The name of the per-key page of id, relative to the summary page:
// "keys/" and the 16 digits of the key id, which korvalinde's own names
// (two-digit directories, eight-digit reports, ".txt" files) never match.
std::string key_page_name(const key_id& id);

// The key id as the analyser prints it, "%08X %08X".
std::string key_text(const key_id& id);

// The user id of id in names, or nullptr. The program keeps names as
// visible_text.h makes them: no control or bidirectional formatting
// character is left in them.
const std::string* name_of(const key_names* names, const key_id& id);

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

// What the summary page and the key pages share: the document head with
// the style sheet up to the opening of <main>, its end, and the chart of a
// key's strong set members by hop count.
void put_page_head(page_output& out, const std::string& title);
void put_page_end(page_output& out, const std::string& footer);
// A chart's caption as text (the drawing's description) and as HTML, in
// which a user id is isolated (<bdi>): right-to-left letters in a name then
// cannot reorder the words around it.
struct chart_caption {
    std::string text;
    std::string html;
};
chart_caption plain_caption(const std::string& text);
// before, " (" name ")" and after; without a name, before and after.
chart_caption caption_naming(const std::string& before, const std::string* name,
                             const std::string& after);
// A user id for text that cannot hold markup (a page title, a chart's
// description): between U+2068 FIRST STRONG ISOLATE and U+2069 POP
// DIRECTIONAL ISOLATE, the plain-text form of <bdi>.
std::string isolated_text(const std::string& name);

void put_hop_chart(page_output& out, const std::vector<int64_t>& hop_counts, const std::string& id,
                   const std::string& title, const chart_caption& caption);
