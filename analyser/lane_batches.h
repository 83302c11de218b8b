// The batches of the fast distance analysis (fast_distance.cc describes the
// method): LANES members searched at once with lane sets, level by level,
// each level stepped bottom-up or top-down, all threads on the same level
// between barriers; and the processor-time budget after which a batch is
// left to word-wide searches.
#pragma once

#include "fast_distance.h"
#include "search_graph.h"
#include "word_search.h"

#include <cstdint>
#include <ctime>

// Processor time used so far by the calling thread or, with
// CLOCK_PROCESS_CPUTIME_ID, by all threads, in seconds. Processor time and
// not wall time compares the two kinds of search: on a loaded machine
// both slow down in wall time, but not by the same factor, and the threads
// of a batch may wait for a processor while the probe did not.
double cpu_seconds(clockid_t clock);

// Runs the batches over members[0, lane_members) on the given threads with
// the given budget per batch (processor seconds per member). Returns the level
// at which a batch was left, or -1, and the batch in abandoned_batch.
int32_t run_batches(const search_graph& graph, int32_t lane_members, int threads, level_steps steps,
                    double seconds_per_member, source_results& results, int32_t& abandoned_batch);
