// Test helpers for the analyser: signature graphs built directly from edge
// lists, a reference strong-set search to check the program against, the
// fixed preamble of every key report, and reading back what a stream got.
#pragma once

#include "analysis_results.h"
#include "key_graph.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// One signature: first signed second.
using signature_edge = std::pair<int32_t, int32_t>;

// The graph of key_count keys with ids (0, 0x10 + k) and the signatures in
// the given order, as the import would build it from a key list:
// duplicates and self-signatures are kept.
key_graph graph_of(int32_t key_count, const std::vector<signature_edge>& edges);

// The sets of a graph found by a plain recursive Tarjan search, written
// exactly as the visiting rules read (keys in index order, a key's signers
// in signed_by order), with othersets.txt as it must come out.
struct reference_result {
    set_results sets; // component_of, the strong set and the keys reachable from it
    std::string othersets;
};
reference_result reference_sets(const key_graph& g);

// The lines every key report starts with.
extern const char* const REPORT_PREAMBLE;

// Everything written so far to a tmpfile() stream.
std::string stream_text(FILE* stream);

// Runs command through sh (a key-list generator writing to standard output),
// imports what it wrote from a temporary file (the import reads its input
// twice) and finds the sets. Returns false, with what failed in error, when
// the generator, the file or the import fails; the file is always removed.
bool import_generated(const std::string& command, key_graph& g, set_results& s, std::string& error);
