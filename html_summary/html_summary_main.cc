// korvalinde-html: reads a korvalinde output directory and writes an HTML
// page with the run's figures, two charts and the keys ranked by mean
// distance, a page per key, and the index its search box reads.
#include "input_guard.h"
#include "key_links.h"
#include "key_page.h"
#include "line_reader.h"
#include "mean_ranking.h"
#include "names_file.h"
#include "page_file.h"
#include "program_messages.h"
#include "report_files.h"
#include "run_figures.h"
#include "search_index.h"
#include "search_script.h"
#include "stale_reports.h"
#include "summary_options.h"
#include "summary_page.h"
#include "summary_sections.h"
#include "visible_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

// The chart stays readable on a phone with this many bars.
constexpr size_t HISTOGRAM_BINS = 40;

std::string current_date() {
    std::time_t now = std::time(nullptr);
    std::tm utc;
    char text[64];
    if (now == static_cast<std::time_t>(-1) || !gmtime_r(&now, &utc) ||
        std::strftime(text, sizeof text, "on %Y-%m-%d at %H:%M UTC", &utc) == 0)
        return "";
    return text;
}

void read_names(const summary_settings& settings, key_names& names) {
    std::string error;
    auto warn = [](const std::string& warning) {
        std::fprintf(stderr, "korvalinde-html: warning: %s\n", warning.c_str());
    };
    if (!read_names_file(settings.names_path, names, error, warn)) throw input_error(error);
    // Shown as text everywhere on the pages: control and bidirectional
    // formatting characters as "\uXXXX", bytes that are not UTF-8 as U+FFFD.
    for (auto& entry : names)
        entry.second = visible_text(entry.second);
}

// The ranking holds every key that gets a row or a page: all of them unless
// both the rows and the pages are bounded.
void read_ranking(const summary_settings& settings, page_content& content,
                  std::vector<uint32_t>& listed) {
    mean_ranking ranking;
    size_t rows = settings.ranking_limit;
    size_t pages = settings.max_pages;
    ranking.limit = rows == 0 || pages == 0 ? 0 : std::max(rows, pages);
    mean_histogram histogram;
    read_msd(settings.dir, ranking, histogram, &listed);
    content.analysed_keys = ranking.total;
    content.ranking = take_ranked_keys(ranking);
    content.bins = histogram_bins(histogram, HISTOGRAM_BINS);
    size_t all = content.ranking.size();
    content.ranking_shown = rows == 0 ? all : std::min(rows, all);
    content.page_count = pages == 0 ? all : std::min(pages, all);

    std::vector<key_id> ids;
    ids.reserve(content.ranking.size());
    for (const ranked_key& key : content.ranking)
        ids.push_back(key.id);
    read_othersets(settings.dir, content.figures, ids, content.ranked_in_strong);
}

void warn_stale(const summary_settings& settings, std::vector<uint32_t>& listed) {
    int64_t stale = count_stale_reports(settings.dir, listed);
    if (stale > 0)
        std::fprintf(stderr,
                     "korvalinde-html: warning: %s holds %lld report file%s for keys that "
                     "msd.txt does not list, left by an earlier run; the pages and the index "
                     "leave them out, but they stay in the directory: run korvalinde into a "
                     "fresh directory before publishing it\n",
                     settings.dir.c_str(), static_cast<long long>(stale), stale == 1 ? "" : "s");
}

void make_page(const summary_settings& settings) {
    page_content content;
    content.title = settings.title;
    if (settings.show_date) content.made_on = current_date();
    read_status(settings.dir, content.figures);
    read_other(settings.dir, content.figures);

    key_names names;
    if (!settings.names_path.empty()) {
        read_names(settings, names);
        content.names = &names;
    }
    if (!settings.inputs_path.empty()) content.inputs = read_keylist_summary(settings.inputs_path);
    std::vector<uint32_t> listed;
    read_ranking(settings, content, listed);
    std::unique_ptr<key_links> links;
    if (!settings.keys_path.empty()) {
        links = std::make_unique<key_links>();
        read_key_links(settings.keys_path, *links);
        mark_key_pages(*links, content.ranking, content.page_count);
    }

    if (!content.ranking.empty()) {
        const key_id& best = content.ranking.front().id;
        content.layout = find_report_layout(settings.dir, best.id_low);
        content.best_hop_counts = read_hop_counts(settings.dir, content.layout, best);
    }
    content.report_prefix = href_prefix(settings.page_path, settings.dir);

    std::vector<std::string> inputs;
    for (const char* name : {"status.txt", "msd.txt", "othersets.txt", "other.txt"})
        inputs.push_back(settings.dir + name);
    for (const std::string* path :
         {&settings.names_path, &settings.keys_path, &settings.inputs_path})
        if (!path->empty()) inputs.push_back(*path);
    for (size_t i = 0; i < content.page_count; ++i)
        inputs.push_back(settings.dir + report_name(content.layout, content.ranking[i].id.id_low));
    refuse_input_as_output(settings.page_path, inputs);
    warn_stale(settings, listed);

    atomic_file file;
    open_page_file(file, settings.page_path);
    // The key pages and the index before the page, so that it never links
    // to a missing one.
    write_key_pages(content, settings.dir, settings.page_path, links.get());
    write_search_index(search_index_files(content.ranking, content.page_count, content.names),
                       settings.page_path);
    write_page_text(sibling_path(settings.page_path, "search.js"), SEARCH_SCRIPT);
    page_output out;
    out.fd = file.fd;
    write_summary_page(out, content);
    if (!flush_page(out))
        throw page_error(written_path(file) + ": cannot write: " + std::strerror(out.error));
    commit_page_file(file);
}

} // namespace

int main(int argc, char** argv) {
    set_program_name("korvalinde-html");
    end_on_out_of_memory();
    try {
        // The options are inside too: their strings can fail to allocate.
        summary_settings settings;
        if (std::optional<int> status = read_summary_options(argc, argv, settings)) return *status;
        make_page(settings);
    } catch (const input_error& error) {
        std::fprintf(stderr, "korvalinde-html: %s\n", error.what());
        return 1;
    } catch (const page_error& error) {
        std::fprintf(stderr, "korvalinde-html: %s\n", error.what());
        return 1;
    } catch (const std::bad_alloc&) {
        return report_out_of_memory();
    }
    return 0;
}
