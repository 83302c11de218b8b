// Answering queries: one from the command line, or one per line of a
// stream ("FROM TO", blanks or tabs between; empty lines and lines starting
// with "#" are passed over).
#pragma once

#include "names_file.h"
#include "path_index.h"
#include "path_options.h"
#include "path_search.h"

#include <cstdio>
#include <string_view>

struct query_context {
    const path_settings& settings;
    const path_index& ix;
    const key_names* names; // null without -N
    search_space& space;
};

// Answers FROM TO into output, in the form the settings ask for. A query
// that cannot be answered is a JSON error object with --json, and a message
// on standard error (naming `where`) otherwise. Returns false for such a
// query or when output could not be written.
bool answer_one(query_context& context, std::string_view from, std::string_view to,
                std::string_view where, FILE* output);

// Answers every query line of input, flushing output after each answer so
// that a program on the other end of a pipe gets it at once. Returns false
// when any line could not be answered (the others still are) or reading or
// writing failed.
bool answer_stream(query_context& context, FILE* input, FILE* output);
