// Signature graphs built directly from edge lists, with their strong set and
// reachable set found by a plain strongly-connected-set search. Used by the
// tests and the benchmark to feed the distance analyses without going
// through a key list file.
#pragma once

#include "key_graph.h"

#include <cstdint>
#include <utility>
#include <vector>

// One signature: first signed second.
using signature_edge = std::pair<int32_t, int32_t>;

// Builds the graph of key_count keys (key ids derived from the index) with
// the signatures in the given order; duplicates and self-signatures are
// kept, as the import keeps them.
key_graph graph_from_edges(int32_t key_count, const std::vector<signature_edge>& edges);

// The strongly connected sets (each labelled by its smallest key index), the
// largest as the strong set (the one with the smallest root on a tie), and
// the keys reachable from it along signs.
set_results plain_sets(const key_graph& g);
