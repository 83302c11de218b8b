// The summary file (--summary): how a key list was made, as "name: value"
// lines, for the pages that publish the analysis (korvalinde-html -s).
#pragma once

#include "key_block.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// The lines of the summary: the time made (UTC), the program and its
// version, each input with its size, and the counts. Input names are
// escaped as user ids are in the names file (names_file.h), so that a name
// with a line end stays on its line.
std::string keylist_summary_text(const std::vector<std::string>& inputs,
                                 const keylist_counts& counts, uint64_t keys_written,
                                 uint64_t signatures_written, std::time_t made);
