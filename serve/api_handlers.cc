#include "api_handlers.h"

#include "decimal.h"
#include "key_search.h"
#include "path_output.h"
#include "report_dir.h"
#include "run_figures.h"
#include "serve_text.h"

#include <span>

std::optional<int64_t> query_number(const http_request& request, const std::string& name,
                                    int64_t fallback, int64_t low, int64_t high) {
    const std::string* text = query_value(request, name);
    if (text == nullptr) return fallback;
    std::optional<uint64_t> n = parse_decimal(std::string_view(*text), static_cast<uint64_t>(low),
                                              static_cast<uint64_t>(high));
    if (!n) return std::nullopt;
    return static_cast<int64_t>(*n);
}

void json_error(http_response& response, int status, std::string_view message) {
    response.status = status;
    response.content_type = "application/json";
    response.body = "{\"error\":" + json_text(message) + "}\n";
}

namespace {

void bad_number(http_response& response, const char* name, int64_t low, int64_t high) {
    json_error(response, 400,
               std::string(name) + " must be a number from " + std::to_string(low) + " to " +
                   std::to_string(high));
}

} // namespace

path_answer run_path_query(const served_data& data, int32_t from, int32_t to, int64_t paths,
                           int64_t disjoint) {
    space_lease lease(data);
    lease.space().deadline = std::chrono::steady_clock::now() + data.query_budget;
    return answer_query(data.ix, lease.space(), from, to, static_cast<int32_t>(paths),
                        static_cast<int32_t>(disjoint));
}

std::string out_of_time_message(const served_data& data) {
    return "the query took longer than " + std::to_string(data.query_budget.count()) +
           " ms; ask for fewer disjoint paths (k)";
}

void api_path(const served_data& data, const http_request& request, http_response& response) {
    const std::string* from = query_value(request, "from");
    const std::string* to = query_value(request, "to");
    if (from == nullptr || to == nullptr)
        return json_error(response, 400, "give two keys, from and to");
    std::optional<int64_t> n = query_number(request, "n", SERVE_PATHS_DEFAULT, 0, SERVE_PATHS_MAX);
    if (!n) return bad_number(response, "n", 0, SERVE_PATHS_MAX);
    std::optional<int64_t> k =
        query_number(request, "k", SERVE_DISJOINT_DEFAULT, 1, SERVE_DISJOINT_MAX);
    if (!k) return bad_number(response, "k", 1, SERVE_DISJOINT_MAX);
    key_resolution a = resolve_key(data, *from, false);
    key_resolution b = resolve_key(data, *to, false);
    if (a.key < 0 || b.key < 0) {
        const key_resolution& failed = a.key < 0 ? a : b;
        return json_error(response, failed.unknown ? 404 : 400, failed.error);
    }
    path_answer answer = run_path_query(data, a.key, b.key, *n, *k);
    if (answer.out_of_time) return json_error(response, 503, out_of_time_message(data));
    // The names of the keys the answer shows, for path's JSON writer.
    key_names shown;
    auto add_name = [&](int32_t key) {
        if (std::optional<std::string_view> name = key_name_of(data, key))
            shown.try_emplace(data.ix.ids[static_cast<size_t>(key)], *name);
    };
    add_name(a.key);
    add_name(b.key);
    for (const std::vector<int32_t>& path : answer.paths)
        for (int32_t key : path)
            add_name(key);
    query_keys q{data.ix, data.has_names ? &shown : nullptr, a.key, b.key};
    response.content_type = "application/json";
    append_json_answer(response.body, q, answer);
}

void api_search(const served_data& data, const http_request& request, http_response& response) {
    const std::string* q = query_value(request, "q");
    std::optional<int64_t> limit =
        query_number(request, "limit", SEARCH_LIMIT_DEFAULT, 1, SEARCH_LIMIT_MAX);
    if (!limit) return bad_number(response, "limit", 1, SEARCH_LIMIT_MAX);
    std::vector<int32_t> keys =
        q == nullptr ? std::vector<int32_t>{} : search_keys(data, *q, static_cast<size_t>(*limit));
    response.content_type = "application/json";
    std::string& out = response.body;
    out = "[";
    for (size_t i = 0; i < keys.size(); ++i) {
        std::optional<std::string_view> name = key_name_of(data, keys[i]);
        out += i == 0 ? "" : ",";
        out += "{\"id\":\"" + key_hex(data, keys[i]) + "\",\"name\":";
        out += name ? json_text(*name) : std::string("null");
        out += '}';
    }
    out += "]\n";
}

namespace {

void append_key_list(std::string& out, const served_data& data, const char* field,
                     std::span<const int32_t> keys) {
    out += ",\"";
    out += field;
    out += "\":[";
    for (size_t i = 0; i < keys.size() && i < NEIGHBOURS_LISTED; ++i) {
        std::optional<std::string_view> name = key_name_of(data, keys[i]);
        out += i == 0 ? "{" : ",{";
        out += "\"id\":\"" + key_hex(data, keys[i]) + "\",\"name\":";
        out += name ? json_text(*name) : std::string("null");
        out += '}';
    }
    out += "],\"";
    out += field;
    out += "_total\":" + std::to_string(keys.size());
}

} // namespace

void api_key(const served_data& data, std::string_view id, http_response& response) {
    key_resolution r = resolve_key(data, id, false);
    if (r.key < 0) return json_error(response, r.unknown ? 404 : 400, r.error);
    std::optional<std::string_view> name = key_name_of(data, r.key);
    std::string& out = response.body;
    out = "{\"id\":\"" + key_hex(data, r.key) + "\",\"name\":";
    out += name ? json_text(*name) : std::string("null");
    append_key_list(out, data, "signers", signers(data.ix, r.key));
    append_key_list(out, data, "signed", signed_keys(data.ix, r.key));
    if (!data.ranks.empty()) {
        const key_rank& rank = data.ranks[static_cast<size_t>(r.key)];
        if (rank.rank > 0) {
            out += ",\"rank\":" + std::to_string(rank.rank) +
                   ",\"ranked\":" + std::to_string(data.ranked_keys) +
                   ",\"mean_distance\":" + format_mean(rank.mean);
            if (std::optional<std::string> report = read_key_report_text(
                    data.report_dir.fd, data.ix.ids[static_cast<size_t>(r.key)]))
                out += ",\"report\":" + json_text(*report);
        }
    }
    out += "}\n";
    response.content_type = "application/json";
}

void health_check(const served_data& data, http_response& response) {
    response.content_type = "text/plain; charset=utf-8";
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", data.load_seconds);
    response.body = "ok\nkeys " + std::to_string(data.ix.key_count) + "\nloaded " + data.loaded_at +
                    "\nload_seconds " + seconds + "\n";
}
