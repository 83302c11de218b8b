// The parts of the summary page that explain it: the search box, what the
// figures mean, and how the key list was made.
#pragma once

#include "summary_page.h"

#include <string>
#include <utility>
#include <vector>

// The search box, hidden until search.js shows it: without JavaScript a
// static site cannot search, and the ranking below stays the way to a key.
void put_find_section(page_output& out, const page_content& content);

void put_meaning_section(page_output& out);

// The inputs and the making of the key list, when they were read (-s).
void put_inputs_section(page_output& out, const page_content& content);

// Reads korvalinde-keylist's summary file: "name: value" lines. Throws
// input_error naming the line on anything else.
std::vector<std::pair<std::string, std::string>> read_keylist_summary(const std::string& path);
