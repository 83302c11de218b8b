// The three forms of an answer: text for people, one JSON object per line
// for programs, and a Graphviz digraph of the listed paths.
#pragma once

#include "names_file.h"
#include "path_index.h"
#include "path_search.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The keys of a query and the names file, if one was given.
struct query_keys {
    const path_index& ix;
    const key_names* names; // null without -N
    int32_t from;
    int32_t to;
};

void append_text_answer(std::string& out, const query_keys& q, const path_answer& answer);

// {"from":"16HEX","to":"16HEX","hops":D,"paths_total":P,...} and a line end.
void append_json_answer(std::string& out, const query_keys& q, const path_answer& answer);

// {"from":...,"to":...,"error":"..."}: from and to as the query gave them
// (null when the line did not hold them).
void append_json_error(std::string& out, std::optional<std::string_view> from,
                       std::optional<std::string_view> to, std::string_view error);

// A digraph of the union of the listed paths, one rank per hop.
void append_dot_answer(std::string& out, const query_keys& q, const path_answer& answer);

// A batch of queries as one digraph: its start, one cluster per answered
// query (its nodes named "qN_" and the key's digits, so that a key can stand
// in several clusters), and its end.
void append_dot_batch_start(std::string& out);
void append_dot_cluster(std::string& out, const query_keys& q, const path_answer& answer,
                        long number);
void append_dot_batch_end(std::string& out);
