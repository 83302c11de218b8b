// The JSON endpoints and the health check. Each takes the request and the
// generation it runs on and fills the status, type and body; the router adds
// the headers every response carries.
#pragma once

#include "http_types.h"
#include "path_search.h"
#include "served_data.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Work bounds of one query.
constexpr int32_t SERVE_PATHS_MAX = 1000;
constexpr int32_t SERVE_DISJOINT_MAX = 1000;
constexpr int32_t SERVE_PATHS_DEFAULT = 10;
constexpr int32_t SERVE_DISJOINT_DEFAULT = 8;
// Signers and signed keys listed per key; the rest are counted.
constexpr size_t NEIGHBOURS_LISTED = 100;

// A numeric query parameter: the default when absent, nullopt when it is
// not a decimal in [low, high].
std::optional<int64_t> query_number(const http_request& request, const std::string& name,
                                    int64_t fallback, int64_t low, int64_t high);

// {"error": "..."} with status.
void json_error(http_response& response, int status, std::string_view message);

// Answers a query within the generation's time budget (out_of_time set
// when it ran out).
path_answer run_path_query(const served_data& data, int32_t from, int32_t to, int64_t paths,
                           int64_t disjoint);

// The message of a query that ran out of time.
std::string out_of_time_message(const served_data& data);

void api_path(const served_data& data, const http_request& request, http_response& response);
void api_search(const served_data& data, const http_request& request, http_response& response);
// id: what followed "/api/key/".
void api_key(const served_data& data, std::string_view id, http_response& response);
void health_check(const served_data& data, http_response& response);
