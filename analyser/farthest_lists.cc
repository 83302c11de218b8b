#include "farthest_lists.h"

#include "analysis_results.h"
#include "key_graph.h"
#include "lane_set.h"

#include <algorithm>
#include <atomic>
#include <bit>

namespace {

constexpr int BITMAP_WORDS = LANES / 16;
// Lists that have grown past this many words are freed rather than emptied
// when they are dropped.
constexpr size_t KEEP_CAPACITY = 64;

void add_header(std::vector<uint16_t>& runs, int32_t batch, int32_t count) {
    runs.push_back(static_cast<uint16_t>(static_cast<uint32_t>(batch) >> 16));
    runs.push_back(static_cast<uint16_t>(batch & 0xFFFF));
    runs.push_back(static_cast<uint16_t>(count));
}

} // namespace

void clear_runs(std::vector<uint16_t>& runs) {
    if (runs.capacity() > KEEP_CAPACITY)
        std::vector<uint16_t>().swap(runs);
    else
        runs.clear();
}

void add_lane_run(std::vector<uint16_t>& runs, int32_t batch, const uint64_t* words, uint8_t lines,
                  int32_t count) {
    if (count > BITMAP_WORDS) {
        add_header(runs, batch, 0);
        size_t at = runs.size();
        runs.resize(at + BITMAP_WORDS, 0);
        for (unsigned m = lines; m != 0; m &= m - 1) {
            int first = LINE_WORDS * std::countr_zero(m);
            for (int w = first; w < first + LINE_WORDS; ++w)
                for (int q = 0; q < 4; ++q)
                    runs[at + 4 * static_cast<size_t>(w) + q] =
                        static_cast<uint16_t>(words[w] >> (16 * q));
        }
        return;
    }
    add_header(runs, batch, count);
    for (unsigned m = lines; m != 0; m &= m - 1) {
        int first = LINE_WORDS * std::countr_zero(m);
        for (int w = first; w < first + LINE_WORDS; ++w)
            for (uint64_t bits = words[w]; bits != 0; bits &= bits - 1)
                runs.push_back(static_cast<uint16_t>(64 * w + std::countr_zero(bits)));
    }
}

void add_word_run(std::vector<uint16_t>& runs, int32_t first_rank, uint64_t bits) {
    add_header(runs, first_rank / LANES, std::popcount(bits));
    for (; bits != 0; bits &= bits - 1)
        runs.push_back(static_cast<uint16_t>(first_rank % LANES + std::countr_zero(bits)));
}

void decode_runs(const farthest_lists& f, const std::vector<uint16_t>& runs,
                 std::vector<int32_t>& out) {
    out.clear();
    for (size_t i = 0; i < runs.size();) {
        int32_t first = static_cast<int32_t>((uint32_t{runs[i]} << 16) | runs[i + 1]) * LANES;
        uint16_t n = runs[i + 2];
        i += 3;
        if (n > 0) {
            for (size_t j = i; j < i + n; ++j)
                out.push_back(f.member_keys[first + runs[j]]);
            i += n;
            continue;
        }
        for (int w = 0; w < BITMAP_WORDS; ++w)
            for (unsigned bits = runs[i + w]; bits != 0; bits &= bits - 1)
                out.push_back(f.member_keys[first + 16 * w + std::countr_zero(bits)]);
        i += BITMAP_WORDS;
    }
    std::sort(out.begin(), out.end());
}

const std::vector<int32_t>& farthest_keys_of(const distance_table& t, size_t i,
                                             std::vector<int32_t>& scratch) {
    if (t.farthest.list_of.empty()) return t.stats[i].farthest_keys;
    decode_runs(t.farthest, t.farthest.runs[t.farthest.list_of[i]], scratch);
    return scratch;
}

void farthest_keys_used(distance_table& t, size_t i) {
    if (t.farthest.list_of.empty()) return;
    int32_t c = t.farthest.list_of[i];
    // Reports are written by several threads; the last reader frees.
    if (std::atomic_ref<int32_t>(t.farthest.readers[c]).fetch_sub(1) == 1)
        std::vector<uint16_t>().swap(t.farthest.runs[c]);
}
