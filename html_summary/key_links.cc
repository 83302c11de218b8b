#include "key_links.h"

#include "html_text.h"
#include "key_import.h"
#include "line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>

namespace {

struct file_closer {
    void operator()(FILE* f) const {
        (void)std::fclose(f); // read only: nothing to lose
    }
};

// The distinct other keys of one direction, in key id order.
std::vector<int32_t> distinct_others(const key_graph& g, std::span<const int32_t> keys,
                                     int32_t self) {
    std::vector<int32_t> others;
    others.reserve(keys.size());
    for (int32_t k : keys)
        if (k != self) others.push_back(k);
    auto by_id = [&g](int32_t a, int32_t b) {
        const key_record& x = g.key_table[static_cast<size_t>(a)];
        const key_record& y = g.key_table[static_cast<size_t>(b)];
        if (x.id_high != y.id_high) return x.id_high < y.id_high;
        if (x.id_low != y.id_low) return x.id_low < y.id_low;
        return a < b;
    };
    std::sort(others.begin(), others.end(), by_id);
    others.erase(std::unique(others.begin(), others.end()), others.end());
    return others;
}

void put_key_list(page_output& out, const key_links& links, const key_names* names,
                  const std::vector<int32_t>& keys, const char* heading, const char* none) {
    put(out, "<h3>");
    put(out, heading);
    put(out, " (" + group_digits(static_cast<int64_t>(keys.size())) + ")</h3>\n");
    if (keys.empty()) {
        put(out, "<p class=\"note\">");
        put(out, none);
        put(out, "</p>\n");
        return;
    }
    put(out, "<ul class=\"keys\">\n");
    size_t shown = std::min(keys.size(), LINKS_SHOWN);
    for (size_t i = 0; i < shown; ++i) {
        size_t k = static_cast<size_t>(keys[i]);
        const key_record& r = links.graph.key_table[k];
        key_id id{r.id_high, r.id_low};
        std::string text = key_text(id);
        put(out, "<li>");
        if (links.has_page[k]) {
            // From one key page to another: the same folder.
            put(out,
                "<a class=\"id\" href=\"" + key_page_name(id).substr(5) + "\">" + text + "</a>");
        } else {
            put(out, "<span class=\"id\">" + text + "</span>");
        }
        if (const std::string* name = name_of(names, id))
            put(out, " <span class=\"name\" dir=\"auto\">" + html_escape(*name) + "</span>");
        put(out, "</li>\n");
    }
    put(out, "</ul>\n");
    if (keys.size() > shown)
        put(out, "<p class=\"note\">and " +
                     group_digits(static_cast<int64_t>(keys.size() - shown)) + " more</p>\n");
}

} // namespace

void read_key_links(const std::string& path, key_links& links) {
    std::unique_ptr<FILE, file_closer> file(std::fopen(path.c_str(), "rb"));
    if (!file) throw input_error(path + ": " + std::strerror(errno));
    // The import reports a read failure on standard error itself.
    if (import_keys(file.get(), path.c_str(), nullptr, links.graph, &links.lookup) != 0)
        throw input_error(path + ": cannot read the key list");
    links.has_page.assign(static_cast<size_t>(links.graph.key_count), 0);
}

void mark_key_pages(key_links& links, const std::vector<ranked_key>& ranking, size_t page_count) {
    for (size_t i = 0; i < page_count && i < ranking.size(); ++i) {
        int32_t k = lookup_key(links.lookup, ranking[i].id.id_high, ranking[i].id.id_low);
        if (k < 0) continue;
        // Every key of that id: the lists show each of them as the same page.
        links.has_page[static_cast<size_t>(k)] = 1;
    }
    for (size_t k = 0; k < links.has_page.size(); ++k) {
        const key_record& r = links.graph.key_table[k];
        int32_t first = lookup_key(links.lookup, r.id_high, r.id_low);
        if (first >= 0) links.has_page[k] = links.has_page[static_cast<size_t>(first)];
    }
}

void put_certifications(page_output& out, const key_links& links, const key_names* names,
                        const key_id& id) {
    int32_t k = lookup_key(links.lookup, id.id_high, id.id_low);
    if (k < 0) return;
    const key_graph& g = links.graph;
    put(out, "<section id=\"certifications\">\n<h2>Certifications</h2>\n");
    put_key_list(out, links, names, distinct_others(g, signed_by(g, k), k),
                 "Keys that certified this key", "No other key certified it.");
    put_key_list(out, links, names, distinct_others(g, signs(g, k), k), "Keys this key certified",
                 "It certified no other key.");
    put(out, "</section>\n");
}
