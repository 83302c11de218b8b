#include "lane_set.h"

#include "processor_clones.h"

#include <algorithm>
#include <new>
#include <sys/mman.h>

// Built for processors with and without a population-count instruction.
for_each_processor("popcnt", "default") settled_lines
    settle_lines(lane_set& lanes, lane_set& seen, line_mask lines) {
    settled_lines result;
    for (unsigned m = lines; m != 0; m &= m - 1) {
        int l = std::countr_zero(m);
        uint64_t any = 0;
        uint64_t all = ~uint64_t{0};
        for (int w = LINE_WORDS * l; w < LINE_WORDS * (l + 1); ++w) {
            uint64_t fresh = lanes.word[w] & ~seen.word[w];
            uint64_t now = seen.word[w] | fresh;
            lanes.word[w] = fresh;
            seen.word[w] = now;
            any |= fresh;
            all &= now;
            result.count += std::popcount(fresh);
        }
        if (any != 0) result.fresh |= static_cast<line_mask>(1u << l);
        if (all == ~uint64_t{0}) result.filled |= static_cast<line_mask>(1u << l);
    }
    return result;
}

// Also built for wider vector units where the processor has them.
for_each_processor("avx2", "default") void gather_lines(lane_set& into, const lane_set* in,
                                                        const int32_t* picked,
                                                        const line_mask* lines, int n) {
    // Ask for the lines a few signers ahead while this one is combined.
    constexpr int AHEAD = 8;
    for (int j = 0; j < std::min(n, AHEAD); ++j)
        for (unsigned m = lines[j]; m != 0; m &= m - 1)
            __builtin_prefetch(
                &in[picked[j]].word[std::ptrdiff_t{LINE_WORDS} * std::countr_zero(m)]);
    for (int j = 0; j < n; ++j) {
        if (j + AHEAD < n)
            for (unsigned m = lines[j + AHEAD]; m != 0; m &= m - 1)
                __builtin_prefetch(
                    &in[picked[j + AHEAD]].word[std::ptrdiff_t{LINE_WORDS} * std::countr_zero(m)]);
        const lane_set& f = in[picked[j]];
        for (unsigned m = lines[j]; m != 0; m &= m - 1) {
            int first = LINE_WORDS * std::countr_zero(m);
            for (int w = first; w < first + LINE_WORDS; ++w)
                into.word[w] |= f.word[w];
        }
    }
}

lane_array::lane_array(size_t count) : bytes_(std::max<size_t>(count, 1) * sizeof(lane_set)) {
    // cppcheck-suppress invalidFunctionArg ; -1 is the descriptor anonymous mappings require
    void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    // Only a hint: without huge pages the array works the same.
    (void)madvise(p, bytes_, MADV_HUGEPAGE);
    data_ = static_cast<lane_set*>(p);
}

lane_array::~lane_array() {
    // Unmapping a mapping made above cannot fail in a way worth handling.
    (void)munmap(data_, bytes_);
}
