// The farthest members of each key, kept compactly while the searches run
// and handed to the reports one key at a time.
//
// A searched key's list is a sequence of runs, one per batch of LANES
// members (or per group of 64, from a word-wide search): three 16-bit words
// (the batch number, high and low half, and a count n) followed either by n
// lane numbers or, when n is 0, by the batch's LANES lanes as a bitmap of
// LANES / 16 words. Lists of many members thus cost at most a bit per
// member, lists of few two bytes per member. A key whose statistics are
// inherited from its only signer shares that signer's list instead of
// holding a copy.
#pragma once

#include <cstdint>
#include <vector>

struct farthest_lists {
    std::vector<int32_t> member_keys;        // member rank (lane order) -> key index
    std::vector<std::vector<uint16_t>> runs; // per searched key
    std::vector<int32_t> list_of;            // table entry -> searched key whose list it has
    std::vector<int32_t> readers;            // per searched key: reports yet to use its list
};

// Drops a list's runs, when a key has met members farther away. A list that
// has grown large gives its memory back.
void clear_runs(std::vector<uint16_t>& runs);

// Appends the count lanes set in words (LANES / 64 words; only the words of
// the lines in `lines` are read, 8 words a line) of batch `batch`.
void add_lane_run(std::vector<uint16_t>& runs, int32_t batch, const uint64_t* words, uint8_t lines,
                  int32_t count);

// Appends the members first_rank + i for each bit i set in bits, all in one
// batch of LANES members.
void add_word_run(std::vector<uint16_t>& runs, int32_t first_rank, uint64_t bits);

// The key indexes of the members in runs, ascending, into out.
void decode_runs(const farthest_lists& f, const std::vector<uint16_t>& runs,
                 std::vector<int32_t>& out);
