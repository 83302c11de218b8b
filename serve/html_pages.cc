#include "html_pages.h"

#include "api_handlers.h"
#include "html_text.h"
#include "key_search.h"
#include "serve_text.h"

namespace {

std::string search_forms(const http_request* request) {
    auto value = [request](const char* name) {
        const std::string* v = request != nullptr ? query_value(*request, name) : nullptr;
        return v != nullptr ? html_text(*v) : std::string();
    };
    return "<form action=\"/\" method=\"get\" role=\"search\">\n"
           "<label>Key id or part of a name<input name=\"q\" id=\"q\" list=\"q-keys\" "
           "data-suggest autocomplete=\"off\" value=\"" +
           value("q") +
           "\"></label><datalist id=\"q-keys\"></datalist>\n"
           "<button type=\"submit\">Search</button>\n</form>\n"
           "<form action=\"/path\" method=\"get\">\n"
           "<label>From<input name=\"from\" id=\"from\" list=\"from-keys\" data-suggest "
           "autocomplete=\"off\" required value=\"" +
           value("from") +
           "\"></label><datalist id=\"from-keys\"></datalist>\n"
           "<label>To<input name=\"to\" id=\"to\" list=\"to-keys\" data-suggest "
           "autocomplete=\"off\" required value=\"" +
           value("to") +
           "\"></label><datalist id=\"to-keys\"></datalist>\n"
           "<button type=\"submit\">Find paths</button>\n</form>\n";
}

} // namespace

std::string page_start(const served_data& data, std::string_view title) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                      "<title>";
    out += html_text(title);
    out += " — korvalinde</title>\n<link rel=\"stylesheet\" href=\"/static/style.css\">\n"
           "<script src=\"/static/search.js\" defer></script>\n</head>\n<body>\n<main>\n"
           "<nav><a href=\"/\">Search</a>";
    if (data.report_dir.fd >= 0) out += "<a href=\"/reports/\">Reports</a>";
    out += "</nav>\n";
    return out;
}

std::string page_end() {
    return "<footer>korvalinde-serve</footer>\n</main>\n</body>\n</html>\n";
}

void error_page(const served_data& data, int status, std::string_view message,
                http_response& response) {
    response.status = status;
    response.content_type = "text/html; charset=utf-8";
    response.body = page_start(data, "Not answered") +
                    "<h1>Not answered</h1>\n<p class=\"error\">" + html_text(message) + "</p>\n" +
                    page_end();
}

void start_page(const served_data& data, const http_request& request, http_response& response) {
    std::string out = page_start(data, "Key paths");
    out += "<h1>Signature paths between keys</h1>\n";
    out += "<p class=\"note\">" + group_digits(data.ix.key_count) + " keys, loaded " +
           html_text(data.loaded_at) + ".</p>\n";
    out += search_forms(&request);
    const std::string* q = query_value(request, "q");
    if (q != nullptr && !q->empty()) {
        std::vector<int32_t> keys = search_keys(data, *q, SEARCH_LIMIT_MAX);
        out += "<section id=\"results\">\n<h2>Keys matching “" + html_text(*q) + "”</h2>\n";
        if (keys.empty()) out += "<p>No key id starts with it and no name contains it.</p>\n";
        if (keys.size() == SEARCH_LIMIT_MAX)
            out += "<p class=\"note\">The first " + std::to_string(SEARCH_LIMIT_MAX) +
                   " are shown; type more to narrow the search.</p>\n";
        out += "<ul class=\"keys\">\n";
        for (int32_t k : keys)
            out += "<li>" + html_key_link(data, k) + "</li>\n";
        out += "</ul>\n</section>\n";
    }
    out += "<section id=\"about\">\n<h2>What the numbers mean</h2>\n"
           "<p>A key signed by another is one <em>hop</em> from it. The path from one key to "
           "another follows signatures: each key on it signed the next. The page of a path "
           "gives the fewest hops, how many different paths have that length, the first of "
           "them, and how many paths share no key but the two ends: the more such "
           "<em>disjoint</em> paths, the fewer keys an attacker would have to control to "
           "fake the connection.</p>\n"
           "<p>A key is 16 hexadecimal digits, a 40-digit fingerprint, the last 8 digits of "
           "the key id, or part of its owner's name.</p>\n</section>\n";
    out += page_end();
    response.content_type = "text/html; charset=utf-8";
    response.body = std::move(out);
}
