// The page of a path between two keys.
#include "api_handlers.h"
#include "html_pages.h"
#include "html_text.h"
#include "key_search.h"
#include "serve_text.h"

namespace {

std::string plural(uint64_t n, const char* one, const char* many) {
    return group_digits(static_cast<int64_t>(n)) + " " + (n == 1 ? one : many);
}

// The keys a name or a short id may mean, each a link to the same query
// with that key in its place.
std::string candidate_list(const served_data& data, const http_request& request, const char* side,
                           const key_resolution& r) {
    std::string out = "<ul class=\"keys\">\n";
    for (int32_t k : r.candidates) {
        std::string href = "/path?";
        for (const auto& [name, value] : request.query) {
            if (name == side) continue;
            href += url_query_escape(name) + "=" + url_query_escape(value) + "&";
        }
        href += std::string(side) + "=" + key_hex(data, k);
        out += "<li>" + html_key_link(data, k) + " — <a href=\"" + html_escape(href) +
               "\">use this key</a></li>\n";
    }
    if (r.more_candidates) out += "<li>… and more: give more of the name or the key id</li>\n";
    return out + "</ul>\n";
}

std::string unresolved(const served_data& data, const http_request& request, const char* side,
                       const key_resolution& r) {
    std::string out = "<p class=\"error\">" +
                      std::string(side == std::string("from") ? "From" : "To") + ": " +
                      html_text(r.error) + ".</p>\n";
    if (!r.candidates.empty()) out += candidate_list(data, request, side, r);
    return out;
}

std::string answer_html(const served_data& data, int32_t from, int32_t to,
                        const path_answer& answer) {
    std::string out =
        "<p>From " + html_key_link(data, from) + "<br>to " + html_key_link(data, to) + "</p>\n";
    if (answer.hops < 0)
        return out + "<p class=\"error\">There is no path: no chain of signatures leads from " +
               key_hex(data, from) + " to " + key_hex(data, to) + ".</p>\n";
    out += "<dl class=\"figures\">\n<div><dt>Hops</dt><dd>" + std::to_string(answer.hops) +
           "</dd></div>\n<div><dt>Shortest paths</dt><dd>" +
           (answer.paths_saturated ? "at least " : "") +
           group_digits(static_cast<int64_t>(answer.paths_total)) +
           "</dd></div>\n<div><dt>Disjoint paths</dt><dd>" + std::to_string(answer.disjoint) +
           (answer.disjoint_at_least ? " or more" : "") + "</dd></div>\n</dl>\n";
    if (answer.paths.size() < answer.paths_total)
        out += "<p class=\"note\">The first " + plural(answer.paths.size(), "path", "paths") +
               " in the order of their key ids.</p>\n";
    for (size_t i = 0; i < answer.paths.size(); ++i) {
        out += "<h2>Path " + std::to_string(i + 1) + "</h2>\n<ol class=\"chain\">\n";
        for (int32_t k : answer.paths[i])
            out += "<li>" + html_key_link(data, k) + "</li>\n";
        out += "</ol>\n";
    }
    return out;
}

} // namespace

void path_page(const served_data& data, const http_request& request, http_response& response) {
    response.content_type = "text/html; charset=utf-8";
    std::string out = page_start(data, "Path");
    out += "<h1>Path between two keys</h1>\n";
    const std::string* from = query_value(request, "from");
    const std::string* to = query_value(request, "to");
    std::optional<int64_t> n = query_number(request, "n", SERVE_PATHS_DEFAULT, 0, SERVE_PATHS_MAX);
    std::optional<int64_t> k =
        query_number(request, "k", SERVE_DISJOINT_DEFAULT, 1, SERVE_DISJOINT_MAX);
    if (from == nullptr || to == nullptr || from->empty() || to->empty() || !n || !k) {
        response.status = 400;
        out += "<p class=\"error\">Give two keys, from and to; at most " +
               std::to_string(SERVE_PATHS_MAX) + " paths (n) and " +
               std::to_string(SERVE_DISJOINT_MAX) + " disjoint paths (k).</p>\n";
        response.body = out + page_end();
        return;
    }
    key_resolution a = resolve_key(data, *from, true);
    key_resolution b = resolve_key(data, *to, true);
    if (a.key < 0 || b.key < 0) {
        response.status = (a.key < 0 && !a.unknown) || (b.key < 0 && !b.unknown) ? 400 : 404;
        if (a.key < 0) out += unresolved(data, request, "from", a);
        if (b.key < 0) out += unresolved(data, request, "to", b);
        response.body = out + page_end();
        return;
    }
    path_answer answer = run_path_query(data, a.key, b.key, *n, *k);
    if (answer.out_of_time) return error_page(data, 503, out_of_time_message(data), response);
    out += answer_html(data, a.key, b.key, answer);
    response.body = out + page_end();
}
