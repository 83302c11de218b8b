// A request as the handlers see it and the response they make: plain
// values, so that every handler runs and is tested without a socket.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct http_request {
    std::string method;                                     // "GET", "HEAD", ...
    std::string path;                                       // percent-decoded, without the query
    std::vector<std::pair<std::string, std::string>> query; // decoded, in order
    std::string if_none_match;                              // the header's value, empty when absent
};

struct http_response {
    int status = 200;
    std::string content_type = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers; // beyond Content-Type
    int file_fd = -1; // when >= 0 the body is this file (the response owns it)
    long long file_size = 0;
};

// The first value of a query parameter, or null.
inline const std::string* query_value(const http_request& request, const std::string& name) {
    for (const auto& [key, value] : request.query)
        if (key == name) return &value;
    return nullptr;
}
