#include "key_page.h"

#include "html_text.h"
#include "page_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void put_key_figure(page_output& out, const char* name, const std::string& value) {
    put(out, "<div><dt>");
    put(out, name);
    put(out, "</dt><dd>" + html_escape(value) + "</dd></div>\n");
}

} // namespace

void write_key_page(page_output& out, const key_page_content& c) {
    std::string id = key_text(c.key.id);
    put_page_head(out, "Key " + id + (c.name ? " (" + isolated_text(*c.name) + ")" : "") + " - " +
                           c.site_title);
    put(out, "<nav><a href=\"" + html_escape(c.summary_href) + "\">" + html_escape(c.site_title) +
                 "</a></nav>\n<h1>Key <span class=\"id\">" + id + "</span></h1>\n");
    if (c.name) put(out, "<p class=\"name\" dir=\"auto\">" + html_escape(*c.name) + "</p>\n");
    put(out, "<section id=\"figures\">\n<dl class=\"figures\">\n");
    put_key_figure(out, "Rank", group_digits(c.rank) + " of " + group_digits(c.ranked));
    put_key_figure(out, "Mean distance", format_mean(c.key.mean));
    put_key_figure(out, "In the strong set", c.in_strong_set ? "yes" : "no");
    put(out,
        "</dl>\n</section>\n<section id=\"charts\">\n<h2>Distances from the strong set</h2>\n");
    put_hop_chart(out, c.report.hop_counts, "hops", "Strong set members by hop count to " + id,
                  caption_naming("The strong set's members by the length of their shortest "
                                 "signature chain to " +
                                     id,
                                 c.name,
                                 ", from its report; the row for 30 hops counts the members 30 "
                                 "hops or more away."));
    put(out, "</section>\n");
    if (c.links) put_certifications(out, *c.links, c.names, c.key.id);
    put(out, "<section id=\"report\">\n<h2>The report</h2>\n<pre class=\"report\">");
    put(out, html_escape(c.report.text));
    put(out, "</pre>\n</section>\n");
    put_page_end(out, "Made by korvalinde-html from the key's report.");
}

void write_key_pages(const page_content& c, const std::string& dir, const std::string& page_path,
                     const key_links* links) {
    if (c.page_count == 0) return;
    fs::path page(page_path);
    fs::path page_dir = page.parent_path();
    std::string folder = ((page_dir.empty() ? fs::path(".") : page_dir) / "keys").string();
    make_page_folder(folder);
    std::string summary_href = "../" + url_path_escape(page.filename().string());
    page_output out;
    for (size_t i = 0; i < c.page_count; ++i) {
        key_page_content k;
        k.site_title = c.title;
        k.key = c.ranking[i];
        k.rank = static_cast<int64_t>(i + 1);
        k.ranked = c.analysed_keys;
        k.in_strong_set = c.ranked_in_strong[i] != 0;
        k.name = name_of(c.names, k.key.id);
        k.report = read_key_report(dir, c.layout, k.key.id);
        k.summary_href = summary_href;
        k.links = links;
        k.names = c.names;
        atomic_file file;
        std::string path = (page_dir / key_page_name(k.key.id)).string();
        open_page_file(file, path);
        out = page_output{};
        out.fd = file.fd;
        write_key_page(out, k);
        if (!flush_page(out))
            throw page_error(written_path(file) + ": cannot write: " + std::strerror(out.error));
        // One sync for all the pages below instead of one per page.
        commit_page_file(file, false);
    }
    // Before the summary page that links them replaces the old one.
    sync_page_folder(folder);
}
