// Small helpers for tests: building signature graphs without a key list file
// and reading back what a stream received.
#pragma once

#include "key_graph.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// A graph of key_count keys with ids (0, 0x10 + k) and the given edges
// (signer, signed key) in record order.
key_graph graph_of(int32_t key_count, const std::vector<std::pair<int32_t, int32_t>>& edges);

// Everything written so far to a tmpfile() stream.
std::string stream_text(FILE* stream);
