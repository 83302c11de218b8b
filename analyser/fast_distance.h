// The fast distance analysis: the same statistics as plain_analysis (every
// field of every key, for any number of threads), computed by bit-parallel
// breadth-first searches from the strong-set members.
#pragma once

#include "analysis_results.h"
#include "key_graph.h"

// How the searches are run. The results are the same in every case; the
// choice only changes the speed. adaptive picks the cheaper step for each
// level and leaves a batch to word-wide searches when those are faster;
// the others force one way throughout, so that each can be checked on its
// own: one level step only, word-wide searches only, or every batch
// left to word-wide searches after its first level.
enum class level_steps {
    adaptive,
    bottom_up_only,
    top_down_only,
    word_searches_only,
    batches_then_words
};

// The statistics of every reachable key, in ascending key index, computed on
// the given number of threads (at least one is used). The result does not
// depend on the number of threads.
distance_table fast_analysis(const key_graph& g, const set_results& s, int threads,
                             level_steps steps = level_steps::adaptive);
