// From a request to its response: which handler answers, and the headers
// every response carries (type sniffing off, a content security policy
// allowing only the site's own resources, caching until the next reload).
#pragma once

#include "http_types.h"
#include "served_data.h"

http_response route_request(const served_data& data, const http_request& request);
