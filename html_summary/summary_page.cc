#include "summary_page.h"

#include "file_io.h"
#include "html_text.h"
#include "summary_sections.h"
#include "svg_charts.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

const char* const PROGRAM_VERSION = KORVALINDE_VERSION;

namespace {

constexpr size_t FLUSH_AT = 1 << 16;

const char* const STYLE = R"css(
:root { --ink: #1b1f24; --muted: #57606a; --line: #d0d7de; --card: #f6f8fa; --bar: #3b6fb6;
        --link: #0b57d0; --page: #fff; }
@media (prefers-color-scheme: dark) {
  :root { --ink: #e6edf3; --muted: #9aa4af; --line: #3d444d; --card: #161b22; --bar: #6ea8fe;
          --link: #8ab4f8; --page: #0d1117; }
}
* { box-sizing: border-box; }
html { -webkit-text-size-adjust: 100%; text-size-adjust: 100%; }
body { margin: 0; background: var(--page); color: var(--ink);
       font: 16px/1.5 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; }
main { max-width: 60rem; margin: 0 auto; padding: 1rem; }
h1 { font-size: 1.6rem; margin: 0.5rem 0 0.25rem; overflow-wrap: anywhere; }
h2 { font-size: 1.25rem; margin: 2rem 0 0.5rem; border-bottom: 1px solid var(--line); }
.note, .made, figcaption, footer { color: var(--muted); font-size: 0.9rem; }
dl.figures { display: grid; grid-template-columns: repeat(auto-fit, minmax(8.5rem, 1fr));
             gap: 0.5rem; margin: 0; }
dl.figures div { background: var(--card); border: 1px solid var(--line); border-radius: 6px;
                 padding: 0.5rem 0.75rem; }
dt { font-size: 0.85rem; color: var(--muted); }
dd { margin: 0; font-size: 1.35rem; font-variant-numeric: tabular-nums; }
figure { margin: 1rem 0; }
svg.chart { display: block; width: 100%; height: auto; max-height: 24rem; }
svg.chart text { font: 12px system-ui, sans-serif; fill: var(--ink); }
svg.chart .label { font-size: 13px; fill: var(--muted); }
svg.chart .bars rect { fill: var(--bar); }
@media (max-width: 40rem) {
  svg.chart text, svg.chart .label { font-size: 22px; }
  svg.chart text.odd { display: none; }
  main { padding: 0.75rem; }
}
svg.chart .grid { stroke: var(--line); stroke-width: 1; }
svg.chart .baseline { stroke: var(--ink); stroke-width: 1; }
.table-wrap { overflow-x: auto; -webkit-overflow-scrolling: touch; }
table { border-collapse: collapse; min-width: 100%; font-variant-numeric: tabular-nums; }
th, td { padding: 0.3rem 0.75rem; border-bottom: 1px solid var(--line); white-space: nowrap;
         text-align: left; }
th { position: sticky; top: 0; background: var(--page); }
td.num, th.num { text-align: right; }
a { color: var(--link); }
.id { font-family: ui-monospace, "DejaVu Sans Mono", Menlo, Consolas, monospace; }
.name { display: block; white-space: normal; overflow-wrap: anywhere; color: var(--muted);
        font-size: 0.9rem; }
td .name { max-width: 28rem; }
p.name { display: block; font-size: 1.1rem; margin: 0; }
pre.report { background: var(--card); border: 1px solid var(--line); border-radius: 6px;
             padding: 0.75rem; white-space: pre-wrap; overflow-wrap: anywhere;
             font: 0.85rem/1.4 ui-monospace, "DejaVu Sans Mono", Menlo, Consolas, monospace; }
nav { font-size: 0.9rem; }
#find form { display: flex; flex-wrap: wrap; gap: 0.5rem; }
#find input { flex: 1 1 12rem; min-width: 0; font: inherit; padding: 0.4rem 0.5rem;
              border: 1px solid var(--line); border-radius: 6px; background: var(--page);
              color: var(--ink); }
#find button { font: inherit; padding: 0.4rem 0.9rem; }
ol.found, ul.keys { padding-left: 1.5rem; }
ol.found li, ul.keys li { margin: 0.25rem 0; overflow-wrap: anywhere; }
dl.inputs { display: grid; grid-template-columns: max-content 1fr; gap: 0.25rem 1rem; }
dl.inputs dt { font-size: 0.9rem; }
dl.inputs dd { font-size: 0.9rem; overflow-wrap: anywhere; }
@media (max-width: 40rem) {
  /* The ranking fits a phone: headers and the two halves of a key id wrap. */
  th, td { padding: 0.3rem 0.4rem; white-space: normal; }
}
footer { margin: 2rem 0 1rem; border-top: 1px solid var(--line); padding-top: 0.5rem; }
@media print {
  :root { --ink: #000; --muted: #333; --line: #999; --card: transparent; --bar: #555;
          --link: #000; --page: transparent; }
  body { font-size: 10pt; }
  main { max-width: none; padding: 0; }
  a { text-decoration: none; }
  h2 { break-after: avoid; page-break-after: avoid; }
  figure, dl.figures div { break-inside: avoid; page-break-inside: avoid; }
  #ranking { break-before: page; page-break-before: always; }
  #find { display: none; }
  .table-wrap { overflow: visible; }
  th { position: static; }
  tr { break-inside: avoid; page-break-inside: avoid; }
  thead { display: table-header-group; }
}
)css";

std::string plural(int64_t n, const char* one, const char* many) {
    return group_digits(n) + " " + (n == 1 ? one : many);
}

// A bin edge in hundredths: histogram widths are whole hundredths.
std::string edge_text(mean_e4 edge) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%02lld", static_cast<long long>(edge / 10000),
                  static_cast<long long>(edge % 10000 / 100));
    return text;
}

void put_figure(page_output& out, const char* name, const std::string& value) {
    put(out, "<div><dt>");
    put(out, name);
    put(out, "</dt><dd>");
    put(out, html_escape(value));
    put(out, "</dd></div>\n");
}

void put_figures(page_output& out, const page_content& c) {
    const run_figures& f = c.figures;
    put(out, "<section id=\"figures\">\n<h2>The run</h2>\n<dl class=\"figures\">\n");
    put_figure(out, "Keys", group_digits(f.keys));
    put_figure(out, "Signatures between listed keys", group_digits(f.signatures));
    put_figure(out, "Strong set", group_digits(f.strong_set_size));
    put_figure(out, "Reachable set", group_digits(f.reachable_size));
    put_figure(out, "Average mean distance", format_mean(f.average_mean));
    put_figure(out, "Strongly connected sets", group_digits(f.set_count));
    put(out, "</dl>\n<p class=\"note\">");
    put(out, html_escape(plural(f.single_key_sets, "set holds", "sets hold")));
    put(out, " a single key. The average is taken over the reachable set.");
    if (c.analysed_keys != f.reachable_size)
        put(out, html_escape(" msd.txt lists " + plural(c.analysed_keys, "key", "keys") +
                             ", not one per key of the reachable set."));
    put(out, "</p>\n</section>\n");
}

// A chart with its caption, which is also the drawing's accessible description.
void put_chart(page_output& out, bar_chart& chart, const chart_caption& caption) {
    chart.description = caption.text;
    put(out, "<figure>\n");
    put(out, svg_bar_chart(chart));
    put(out, "<figcaption>" + caption.html + "</figcaption>\n</figure>\n");
}

void put_histogram(page_output& out, const page_content& c) {
    bar_chart chart;
    chart.id = "means";
    chart.title = "Keys by mean distance from the strong set";
    chart.x_label = "Mean distance from the strong set (hops)";
    chart.y_label = "Keys";
    mean_e4 width = c.bins.empty() ? 0 : c.bins[0].high - c.bins[0].low;
    for (const histogram_bin& bin : c.bins) {
        chart.bars.push_back({bin.count, edge_text(bin.low) + " to " + edge_text(bin.high) + ": " +
                                             plural(bin.count, "key", "keys")});
        chart.x_ticks.push_back(edge_text(bin.low));
    }
    if (!c.bins.empty()) chart.x_ticks.push_back(edge_text(c.bins.back().high));
    std::string caption =
        c.bins.empty() ? "No key was analysed, so there are no mean distances."
                       : "Each of the " + plural(c.analysed_keys, "analysed key", "analysed keys") +
                             " of msd.txt, by its mean distance from the strong set, in bins " +
                             edge_text(width) +
                             " wide; a mean on a bin edge counts in the bin above the edge.";
    put_chart(out, chart, plain_caption(caption));
}

void put_best_hop_chart(page_output& out, const page_content& c) {
    chart_caption caption = plain_caption("No key was analysed, so there are no hop counts.");
    if (!c.ranking.empty()) {
        const ranked_key& best = c.ranking.front();
        caption = caption_naming(
            "The strong set's members by the length of their shortest signature chain to "
            "the best-ranked key, " +
                key_text(best.id),
            name_of(c.names, best.id),
            ", mean " + format_mean(best.mean) +
                ", from its report. It shows how quickly the strong set reaches its "
                "best-connected key; each key's page shows its own.");
    }
    put_hop_chart(out, c.best_hop_counts, "hops",
                  "Strong set members by hop count from the best-ranked key", caption);
}

void put_ranking(page_output& out, const page_content& c) {
    put(out, "<section id=\"ranking\">\n<h2>Keys by mean distance</h2>\n<p class=\"note\">");
    int64_t shown = static_cast<int64_t>(c.ranking_shown);
    std::string text = shown == c.analysed_keys
                           ? "All " + plural(c.analysed_keys, "analysed key", "analysed keys")
                           : "The first " + group_digits(shown) + " of " +
                                 plural(c.analysed_keys, "analysed key", "analysed keys");
    text += ", lowest mean distance first; keys with equal means in order of their key ids. "
            "Each key id links to the key's page with its report.";
    if (c.page_count < c.ranking_shown)
        text += " Only the first " + group_digits(static_cast<int64_t>(c.page_count)) +
                " keys have a page.";
    put(out, html_escape(text));
    put(out, "</p>\n");
    if (c.ranking_shown == 0) {
        put(out, "</section>\n");
        return;
    }
    put(out, "<div class=\"table-wrap\">\n<table>\n<thead><tr><th scope=\"col\" "
             "class=\"num\">Rank</th><th scope=\"col\">Key ID</th><th scope=\"col\" "
             "class=\"num\">Mean distance</th><th scope=\"col\">Strong set</th></tr>"
             "</thead>\n<tbody>\n");
    for (size_t i = 0; i < c.ranking_shown; ++i) {
        const ranked_key& key = c.ranking[i];
        const std::string* name = name_of(c.names, key.id);
        std::string id = i < c.page_count ? "<a class=\"id\" href=\"" + key_page_name(key.id) +
                                                "\">" + key_text(key.id) + "</a>"
                                          : "<span class=\"id\">" + key_text(key.id) + "</span>";
        put(out, "<tr><td class=\"num\">" + group_digits(static_cast<int64_t>(i + 1)) +
                     "</td><td>" + id +
                     (name ? "<span class=\"name\" dir=\"auto\">" + html_escape(*name) + "</span>"
                           : "") +
                     "</td><td class=\"num\">" + format_mean(key.mean) + "</td><td>" +
                     (c.ranked_in_strong[i] ? "yes" : "no") + "</td></tr>\n");
    }
    put(out, "</tbody>\n</table>\n</div>\n</section>\n");
}

} // namespace

void put(page_output& out, std::string_view text) {
    if (out.error != 0) return;
    out.buffer.append(text);
    if (out.fd >= 0 && out.buffer.size() >= FLUSH_AT) (void)flush_page(out); // error kept in out
}

bool flush_page(page_output& out) {
    if (out.error != 0) return false;
    if (out.fd < 0) return true;
    if (!write_all(out.fd, out.buffer.data(), out.buffer.size())) {
        out.error = errno;
        return false;
    }
    out.buffer.clear();
    return true;
}

void write_summary_page(page_output& out, const page_content& c) {
    std::string title = html_escape(c.title);
    put_page_head(out, c.title);
    put(out, "<h1>");
    put(out, title);
    put(out, "</h1>\n");
    if (!c.made_on.empty()) put(out, "<p class=\"made\">Made " + html_escape(c.made_on) + "</p>\n");
    put_find_section(out, c);
    put_figures(out, c);
    put_meaning_section(out);
    put_inputs_section(out, c);
    put(out, "<section id=\"charts\">\n<h2>Distances from the strong set</h2>\n");
    put_histogram(out, c);
    put_best_hop_chart(out, c);
    put(out, "</section>\n");
    put_ranking(out, c);
    put_page_end(out, std::string("Made by korvalinde-html ") + PROGRAM_VERSION +
                          " from the analyser's summary files and the keys' reports.");
}

void put_page_head(page_output& out, const std::string& title) {
    put(out, "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
             "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
             "<meta name=\"generator\" content=\"korvalinde-html\">\n<title>");
    put(out, html_escape(title));
    put(out, "</title>\n<style>");
    put(out, STYLE);
    put(out, "</style>\n</head>\n<body>\n<main>\n");
}

void put_page_end(page_output& out, const std::string& footer) {
    put(out, "<footer>" + html_escape(footer) + "</footer>\n</main>\n</body>\n</html>\n");
}

chart_caption plain_caption(const std::string& text) {
    return {text, html_escape(text)};
}

chart_caption caption_naming(const std::string& before, const std::string* name,
                             const std::string& after) {
    if (!name) return {before + after, html_escape(before + after)};
    return {before + " (" + isolated_text(*name) + ")" + after,
            html_escape(before) + " (<bdi>" + html_escape(*name) + "</bdi>)" + html_escape(after)};
}

std::string isolated_text(const std::string& name) {
    return "\u2068" + name + "\u2069";
}

void put_hop_chart(page_output& out, const std::vector<int64_t>& hop_counts, const std::string& id,
                   const std::string& title, const chart_caption& caption) {
    bar_chart chart;
    chart.id = id;
    chart.title = title;
    chart.x_label = "Hops from the member to the key";
    chart.y_label = "Strong set members";
    // The analyser's last row, for 30 hops, also counts the members farther away.
    constexpr size_t LAST_ROW = 30;
    for (size_t h = 0; h < hop_counts.size(); ++h) {
        std::string hops = std::to_string(h) + (h == LAST_ROW ? "+" : "");
        chart.bars.push_back(
            {hop_counts[h], hops + " hops: " + plural(hop_counts[h], "member", "members")});
        chart.x_ticks.push_back(hops);
    }
    put_chart(out, chart, caption);
}

std::string key_page_name(const key_id& id) {
    char name[32];
    std::snprintf(name, sizeof name, "keys/%08X%08X.html", id.id_high, id.id_low);
    return name;
}

std::string key_text(const key_id& id) {
    char text[20];
    std::snprintf(text, sizeof text, "%08X %08X", id.id_high, id.id_low);
    return text;
}

const std::string* name_of(const key_names* names, const key_id& id) {
    if (!names) return nullptr;
    auto found = names->find(static_cast<uint64_t>(id.id_high) << 32 | id.id_low);
    return found == names->end() ? nullptr : &found->second;
}
