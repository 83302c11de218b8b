// The mean distance lines of "msd.txt" and the average line of "other.txt".
#pragma once

#include "analysis_results.h"
#include "key_graph.h"

#include <cstdio>

// Writes one "msd.txt" line per analysed key in ascending key index and
// returns the single-precision sum of the means, added in that same order so
// that every run gives the same bytes.
float write_msd(FILE* msd_file, const key_graph& g, const set_results& s,
                const distance_table& table);

// Writes the average mean line: mean_sum / reachable_size in single precision,
// 0 when the reachable set is empty.
void write_average(FILE* other_file, float mean_sum, int32_t reachable_size);
