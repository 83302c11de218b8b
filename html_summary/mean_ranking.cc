#include "mean_ranking.h"

#include "line_reader.h"

#include <algorithm>

bool ranks_before(const ranked_key& a, const ranked_key& b) {
    if (a.mean != b.mean) return a.mean < b.mean;
    if (a.id != b.id) return a.id < b.id;
    return a.line < b.line;
}

void add_ranked_key(mean_ranking& ranking, const ranked_key& key) {
    ++ranking.total;
    std::vector<ranked_key>& heap = ranking.kept;
    if (ranking.limit == 0 || heap.size() < ranking.limit) {
        heap.push_back(key);
        std::push_heap(heap.begin(), heap.end(), ranks_before);
        return;
    }
    if (!ranks_before(key, heap.front())) return;
    std::pop_heap(heap.begin(), heap.end(), ranks_before);
    heap.back() = key;
    std::push_heap(heap.begin(), heap.end(), ranks_before);
}

std::vector<ranked_key> take_ranked_keys(mean_ranking& ranking) {
    std::vector<ranked_key> keys;
    keys.swap(ranking.kept);
    std::sort_heap(keys.begin(), keys.end(), ranks_before);
    return keys;
}

void add_mean(mean_histogram& histogram, mean_e4 mean) {
    ++histogram.hundredths[mean / 100];
}

std::vector<histogram_bin> histogram_bins(const mean_histogram& histogram, size_t max_bins) {
    std::vector<histogram_bin> bins;
    if (histogram.hundredths.empty() || max_bins == 0) return bins;
    int64_t lowest = histogram.hundredths.begin()->first;
    int64_t highest = histogram.hundredths.rbegin()->first;
    // Widths in ten-thousandths: 1, 2, 2.5 and 5 times 10^k hundredths.
    int64_t width = 0;
    for (int64_t scale = 100;; scale *= 10) {
        for (int64_t step : {scale, 2 * scale, 5 * scale / 2, 5 * scale}) {
            if (step % 100 != 0) continue; // 2.5 hundredths is not a whole hundredth
            int64_t first = lowest * 100 / step;
            int64_t last = highest * 100 / step;
            if (static_cast<size_t>(last - first + 1) <= max_bins) {
                width = step;
                break;
            }
        }
        if (width != 0) break;
    }
    int64_t first = lowest * 100 / width;
    int64_t last = highest * 100 / width;
    for (int64_t b = first; b <= last; ++b)
        bins.push_back({b * width, (b + 1) * width, 0});
    for (auto [hundredth, count] : histogram.hundredths)
        bins[static_cast<size_t>(hundredth * 100 / width - first)].count += count;
    return bins;
}

void read_msd(const std::string& dir, mean_ranking& ranking, mean_histogram& histogram,
              std::vector<uint32_t>* id_lows) {
    line_reader reader(dir + "msd.txt");
    std::string_view line;
    while (next_line(reader, line)) {
        ranked_key key;
        key.line = reader.line_number;
        if (line.size() < 19 || !parse_key_id(line, key.id) || line[17] != ' ' ||
            !parse_mean(line.substr(18), key.mean))
            fail_at_line(reader.path, reader.line_number,
                         "expected a key id and a mean distance, found " + quote_line(line));
        add_ranked_key(ranking, key);
        add_mean(histogram, key.mean);
        if (id_lows) id_lows->push_back(key.id.id_low);
    }
}
