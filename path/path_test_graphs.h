// Small key lists for the tests, imported the way the program imports them.
#pragma once

#include "path_index.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The key list text for keys with these ids; each signature (signer,
// signed) names the keys by position in ids, and a signer of -1 is a key
// that is not in the list.
std::string key_list_text(const std::vector<uint64_t>& ids,
                          const std::vector<std::pair<int, int>>& signatures);

// Imports a key list text and builds the index on it.
path_index index_of_text(const std::string& text);
