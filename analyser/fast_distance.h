// The fast distance analysis: the same statistics as plain_analysis (every
// field of every key, for any number of threads), computed by bit-parallel
// breadth-first searches from the strong-set members.
#pragma once

#include "key_graph.h"

// The statistics of every reachable key, in ascending key index, computed on
// the given number of threads (at least one is used). The result does not
// depend on the number of threads.
distance_table fast_analysis(const key_graph& g, const set_results& s, int threads);
