// Lane sets: one bit per search of a batch (a lane), kept per key.
//
// The batch searches are memory-bound: a batch of 4096 lanes makes each lane
// set 512 bytes, read at random. So lane sets are handled in lines of 512
// lanes (a cache line each) with a byte per key telling which lines matter;
// only lines that can add something are read. The lane arrays ask for huge
// pages, which saves most address-translation misses.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

constexpr int LANE_WORDS = 64;
constexpr int LANES = 64 * LANE_WORDS;
constexpr int LINE_WORDS = 8;
constexpr int LINES = LANE_WORDS / LINE_WORDS;
using line_mask = uint8_t;
static_assert(LINES <= 8, "line masks are bytes");

struct alignas(64) lane_set {
    uint64_t word[LANE_WORDS];
};

// What settle_lines found in the lines it was given.
struct settled_lines {
    line_mask fresh = 0;  // lines with lanes not seen before
    line_mask filled = 0; // lines that now have every lane seen
    int32_t count = 0;    // the number of such lanes
};

// Keeps in the given lines of lanes only those not in seen and adds them to
// seen, in one pass, so that nothing just stored is read back.
settled_lines settle_lines(lane_set& lanes, lane_set& seen, line_mask lines);

// ORs the lines lines[j] of the lane sets in[picked[j]] into into.
void gather_lines(lane_set& into, const lane_set* in, const int32_t* picked, const line_mask* lines,
                  int n);

// ORs the lines add of from into into; of those, the lines not in have are
// copied instead, as into holds no lanes there yet.
inline void merge_lines(lane_set& into, const lane_set& from, line_mask add, line_mask have) {
    for (unsigned m = add; m != 0; m &= m - 1) {
        int l = std::countr_zero(m);
        int first = LINE_WORDS * l;
        if (have & (1u << l)) {
            for (int w = first; w < first + LINE_WORDS; ++w)
                into.word[w] |= from.word[w];
        } else {
            for (int w = first; w < first + LINE_WORDS; ++w)
                into.word[w] = from.word[w];
        }
    }
}

// The lines of a that have every lane set, among the lines in which.
inline line_mask full_lines(const lane_set& a, line_mask which) {
    line_mask full = 0;
    for (unsigned m = which; m != 0; m &= m - 1) {
        int l = std::countr_zero(m);
        uint64_t all = ~uint64_t{0};
        for (int w = LINE_WORDS * l; w < LINE_WORDS * (l + 1); ++w)
            all &= a.word[w];
        if (all == ~uint64_t{0}) full |= static_cast<line_mask>(1u << l);
    }
    return full;
}

// A zero-filled array of lane sets in its own mapping, with huge pages where
// the system offers them. Throws std::bad_alloc when the mapping fails.
class lane_array {
  public:
    explicit lane_array(size_t count);
    lane_array(const lane_array&) = delete;
    lane_array& operator=(const lane_array&) = delete;
    ~lane_array();
    lane_set& operator[](size_t i) { return data_[i]; }
    const lane_set& operator[](size_t i) const { return data_[i]; }
    lane_set* data() { return data_; }

  private:
    size_t bytes_;
    lane_set* data_;
};
