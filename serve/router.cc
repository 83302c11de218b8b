#include "router.h"

#include "api_handlers.h"
#include "html_pages.h"
#include "report_dir.h"
#include "static_assets.h"

#include <cstdio>
#include <unistd.h>

namespace {

// The site's own pages load their style sheet and script from /static/
// and nothing else.
const char* const OWN_POLICY =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";
// korvalinde-html's pages carry their styles inline; their one script (the
// key search and its index files) is a file beside them, never inline.
const char* const REPORT_POLICY =
    "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
    "img-src 'self' data:; object-src 'none'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";

bool etag_matches(const std::string& header, const std::string& etag) {
    if (header.empty()) return false;
    if (header.find_first_not_of(" \t") != std::string::npos &&
        header.substr(header.find_first_not_of(" \t"), 1) == "*")
        return true;
    // A list of tags; a weak comparison, as If-None-Match asks for.
    size_t at = 0;
    while ((at = header.find(etag, at)) != std::string::npos) {
        bool starts = at == 0 || header[at - 1] == ' ' || header[at - 1] == ',' ||
                      header[at - 1] == '/' || header[at - 1] == '\t';
        size_t end = at + etag.size();
        bool ends =
            end == header.size() || header[end] == ',' || header[end] == ' ' || header[end] == '\t';
        if (starts && ends) return true;
        at = end;
    }
    return false;
}

void serve_report_file(const served_data& data, std::string_view relative, http_response& response,
                       std::string& etag) {
    if (data.report_dir.fd < 0) return error_page(data, 404, "no reports are served", response);
    if (relative.empty() || relative.ends_with('/')) {
        // A directory's index page, never a listing.
        std::string name = std::string(relative) + "index.html";
        return serve_report_file(data, name, response, etag);
    }
    std::optional<report_file> file = open_report_file(data.report_dir.fd, relative);
    if (!file) return error_page(data, 404, "no such report file", response);
    response.content_type = report_content_type(relative);
    response.file_size = static_cast<long long>(file->info.st_size);
    char tag[96];
    std::snprintf(tag, sizeof tag, "\"%s-%llx-%llx-%llx\"", data.etag_base.c_str(),
                  static_cast<unsigned long long>(file->info.st_ino),
                  static_cast<unsigned long long>(file->info.st_size),
                  static_cast<unsigned long long>(file->info.st_mtim.tv_sec) * 1000000000ULL +
                      static_cast<unsigned long long>(file->info.st_mtim.tv_nsec));
    etag = tag;
    response.file_fd = file->fd.release();
}

// Chooses the handler; sets etag for responses that stay valid until the
// next reload.
void dispatch(const served_data& data, const http_request& request, http_response& response,
              std::string& etag) {
    const std::string& p = request.path;
    std::string generation = "\"" + data.etag_base + "\"";
    if (p == "/healthz") return health_check(data, response);
    etag = generation;
    if (p == "/") return start_page(data, request, response);
    if (p == "/path") return path_page(data, request, response);
    if (p.starts_with("/key/")) return key_page(data, std::string_view(p).substr(5), response);
    if (p == "/api/path") return api_path(data, request, response);
    if (p == "/api/search") return api_search(data, request, response);
    if (p.starts_with("/api/key/")) return api_key(data, std::string_view(p).substr(9), response);
    if (p == "/static/style.css") {
        response.content_type = "text/css; charset=utf-8";
        response.body = STYLE_SHEET;
        return;
    }
    if (p == "/static/search.js") {
        response.content_type = "text/javascript; charset=utf-8";
        response.body = SEARCH_SCRIPT;
        return;
    }
    etag.clear();
    if (p == "/reports") {
        response.status = 301;
        response.headers.emplace_back("Location", "/reports/");
        return;
    }
    if (p.starts_with("/reports/"))
        return serve_report_file(data, std::string_view(p).substr(9), response, etag);
    if (p.starts_with("/api/")) return json_error(response, 404, "no such endpoint");
    error_page(data, 404, "no such page", response);
}

} // namespace

http_response route_request(const served_data& data, const http_request& request) {
    http_response response;
    if (request.method != "GET" && request.method != "HEAD") {
        response.status = 405;
        response.body = "only GET and HEAD\n";
        response.headers.emplace_back("Allow", "GET, HEAD");
    } else {
        std::string etag;
        dispatch(data, request, response, etag);
        if (response.status == 200 && !etag.empty()) {
            response.headers.emplace_back("ETag", etag);
            // Valid until the next reload, which the client cannot foresee:
            // it asks again each time and gets 304 while the tag holds.
            response.headers.emplace_back("Cache-Control", "no-cache");
            if (etag_matches(request.if_none_match, etag)) {
                response.status = 304;
                response.body.clear();
                if (response.file_fd >= 0) {
                    (void)close(response.file_fd); // read-only: nothing to lose
                    response.file_fd = -1;
                }
            }
        } else {
            response.headers.emplace_back("Cache-Control", "no-store");
        }
    }
    response.headers.emplace_back("X-Content-Type-Options", "nosniff");
    bool report = request.path.starts_with("/reports/") && response.file_fd >= 0;
    response.headers.emplace_back("Content-Security-Policy", report ? REPORT_POLICY : OWN_POLICY);
    response.headers.emplace_back("Referrer-Policy", "no-referrer");
    return response;
}
