// Writing a generated graph as a key list, with optional noise.
#pragma once

#include "keygen_settings.h"
#include "signature_graph.h"

#include <cstdio>

// Writes the key list to out. Returns false when a write fails (errno tells why).
bool write_key_list(const keygen_settings& settings, const signature_graph& graph, std::FILE* out);
