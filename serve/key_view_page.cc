// The page of one key: its name, its signers and the keys it signed, and
// its place in korvalinde-html's ranking when the reports are served.
#include "api_handlers.h"
#include "html_pages.h"
#include "html_text.h"
#include "key_search.h"
#include "report_dir.h"
#include "run_figures.h"
#include "serve_text.h"

#include <span>

namespace {

std::string key_list(const served_data& data, const char* title, const char* none,
                     std::span<const int32_t> keys) {
    std::string out = "<h2>" + std::string(title) + " (" +
                      group_digits(static_cast<int64_t>(keys.size())) + ")</h2>\n";
    if (keys.empty()) return out + "<p class=\"note\">" + none + "</p>\n";
    out += "<ul class=\"keys\">\n";
    for (size_t i = 0; i < keys.size() && i < NEIGHBOURS_LISTED; ++i)
        out += "<li>" + html_key_link(data, keys[i]) + "</li>\n";
    out += "</ul>\n";
    if (keys.size() > NEIGHBOURS_LISTED)
        out += "<p class=\"note\">and " +
               group_digits(static_cast<int64_t>(keys.size() - NEIGHBOURS_LISTED)) + " more.</p>\n";
    return out;
}

std::string ranking_section(const served_data& data, int32_t k) {
    const key_rank& rank = data.ranks[static_cast<size_t>(k)];
    uint64_t id = data.ix.ids[static_cast<size_t>(k)];
    std::string hex = key_hex(data, k);
    if (rank.rank == 0) return "<p class=\"note\">The reports do not rank this key.</p>\n";
    std::string out = "<dl class=\"figures\">\n<div><dt>Rank</dt><dd>" + group_digits(rank.rank) +
                      " of " + group_digits(data.ranked_keys) +
                      "</dd></div>\n<div><dt>Mean distance</dt><dd>" + format_mean(rank.mean) +
                      "</dd></div>\n</dl>\n<p>";
    if (open_report_file(data.report_dir.fd, "keys/" + hex + ".html"))
        out += "<a href=\"/reports/keys/" + hex + ".html\">The key's page in the reports</a>. ";
    std::string report = key_report_path(data.report_dir.fd, id);
    if (!report.empty()) out += "<a href=\"/reports/" + report + "\">The plain report</a>.";
    out += "</p>\n";
    if (std::optional<std::string> text = read_key_report_text(data.report_dir.fd, id))
        out += "<h2>Report</h2>\n<pre class=\"report\">" + html_lines(*text) + "</pre>\n";
    return out;
}

} // namespace

void key_page(const served_data& data, std::string_view id, http_response& response) {
    key_resolution r = resolve_key(data, id, true);
    if (r.key < 0 && r.candidates.empty())
        return error_page(data, r.unknown ? 404 : 400, r.error, response);
    response.content_type = "text/html; charset=utf-8";
    if (r.key < 0) {
        std::string out = page_start(data, "Several keys") + "<h1>Several keys</h1>\n<p>" +
                          html_text(r.error) + ":</p>\n<ul class=\"keys\">\n";
        for (int32_t k : r.candidates)
            out += "<li>" + html_key_link(data, k) + "</li>\n";
        response.body = out + "</ul>\n" + page_end();
        return;
    }
    std::string hex = key_hex(data, r.key);
    std::string out = page_start(data, hex);
    out += "<h1 class=\"id\">" + hex.substr(0, 8) + " " + hex.substr(8) + "</h1>\n";
    if (std::optional<std::string_view> name = key_name_of(data, r.key))
        out += "<p class=\"name\">" + html_name(*name) + "</p>\n";
    if (!data.ranks.empty()) out += ranking_section(data, r.key);
    out += "<p><a href=\"/?to=" + hex + "\">Paths to this key</a> · <a href=\"/?from=" + hex +
           "\">Paths from this key</a></p>\n";
    out += key_list(data, "Signed by", "No other key signed it.", signers(data.ix, r.key));
    out += key_list(data, "Signed", "It signed no other key.", signed_keys(data.ix, r.key));
    response.body = out + page_end();
}
