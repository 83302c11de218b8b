// The server's HTML pages, rendered whole on the server so that they work
// without JavaScript: the start page with the search, a path between two
// keys and a key's own page.
#pragma once

#include "http_types.h"
#include "served_data.h"

#include <string>
#include <string_view>

// The page's head, header and search forms, up to the main content.
std::string page_start(const served_data& data, std::string_view title);
// The footer and the end of the document.
std::string page_end();

// "/" and "/?q=TEXT": the forms, the search's results and what the numbers mean.
void start_page(const served_data& data, const http_request& request, http_response& response);
// "/path?from=A&to=B[&n=N][&k=K]"
void path_page(const served_data& data, const http_request& request, http_response& response);
// "/key/ID"
void key_page(const served_data& data, std::string_view id, http_response& response);
// A page saying what went wrong, with status.
void error_page(const served_data& data, int status, std::string_view message,
                http_response& response);
