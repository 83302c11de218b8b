// The straightforward distance analysis: one breadth-first search per key over
// signed_by, a refill of the whole distance array and a scan of all keys per
// search. Slow (quadratic), but obviously correct; the fast analysis is
// checked against it and the benchmark measures against it.
#pragma once

#include "analysis_results.h"
#include "key_graph.h"

#include <vector>

struct distance_scratch {
    std::vector<int32_t> distance;     // hops from each key to the start, or NO_DISTANCE
    std::vector<int32_t> search_queue; // FIFO of key indexes
};

// Fills scratch.distance with the number of hops of the shortest chain of
// signatures from every key to start (NO_DISTANCE where there is none).
void distances_from(const key_graph& g, int32_t start, distance_scratch& scratch);

// The statistics of one reachable key over the strong-set members.
void key_statistics(const key_graph& g, const set_results& s, int32_t key,
                    distance_scratch& scratch, key_stats& out);

// key_statistics for every reachable key, on the given number of threads.
distance_table plain_analysis(const key_graph& g, const set_results& s, int threads);
