// The ranking of keys by mean distance and the histogram of the means,
// both filled while msd.txt is streamed once.
#pragma once

#include "run_figures.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ranked_key {
    mean_e4 mean = 0;
    key_id id;
    int64_t line = 0; // in msd.txt: orders keys listed twice with the same id
};

// Best first: the lower mean, then the lower key id, then the earlier line.
bool ranks_before(const ranked_key& a, const ranked_key& b);

// Keeps the best `limit` keys seen (all of them when limit is 0) in a
// heap whose top is the worst key kept, so a million-line msd.txt costs
// memory only for the keys shown.
struct mean_ranking {
    size_t limit = 0;
    std::vector<ranked_key> kept;
    int64_t total = 0; // keys seen
};

void add_ranked_key(mean_ranking& ranking, const ranked_key& key);

// The kept keys, best first. Leaves the ranking empty.
std::vector<ranked_key> take_ranked_keys(mean_ranking& ranking);

// Key counts by mean, in bins of one hundredth; merged into wider bins for
// the chart. A std::map keeps the memory to the values that occur.
struct mean_histogram {
    std::map<int64_t, int64_t> hundredths;
};

void add_mean(mean_histogram& histogram, mean_e4 mean);

struct histogram_bin {
    mean_e4 low = 0;  // inclusive
    mean_e4 high = 0; // exclusive
    int64_t count = 0;
};

// Contiguous bins of one width from the set {1, 2, 2.5, 5} times a power of
// ten hundredths, the smallest that needs at most max_bins bins, starting at
// a multiple of the width; empty when no mean was added.
std::vector<histogram_bin> histogram_bins(const mean_histogram& histogram, size_t max_bins);

// Streams DIR/msd.txt into the ranking and the histogram; throws input_error
// naming the line on anything but "%08X %08X %8.4f" lines. Each key's id_low
// goes into id_lows when given.
void read_msd(const std::string& dir, mean_ranking& ranking, mean_histogram& histogram,
              std::vector<uint32_t>* id_lows = nullptr);
