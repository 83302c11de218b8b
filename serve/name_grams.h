// Finding the names that contain a text, in any ASCII case, without reading
// every name: an index of the three-byte pieces (trigrams) of the names.
//
// Each trigram, folded to lower case, falls into one of GRAM_BUCKETS
// buckets by a hash; a bucket lists the keys whose name holds one of its
// trigrams, ascending, as LEB128-coded gaps (the first from -1), about a
// byte per key and trigram. A name holding a text of three bytes or more
// holds each of its trigrams, so it is in each of their buckets: walking
// the shortest of those lists and skipping along the others gives the
// candidates, which are then compared with the text itself (buckets are
// shared by several trigrams, so being in all of them is not yet a match).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

constexpr unsigned GRAM_BUCKET_BITS = 18;
constexpr size_t GRAM_BUCKETS = size_t{1} << GRAM_BUCKET_BITS;

struct name_grams {
    std::vector<uint64_t> start; // GRAM_BUCKETS + 1 offsets into gaps
    std::vector<uint8_t> gaps;
};

// The index of names laid out as served_data holds them: key k's name is
// text[name_at[k], name_at[k + 1] - 1) (the byte before the next is its
// '\n'), empty when name_at[k] == name_at[k + 1].
name_grams index_name_grams(const std::string& text, const std::vector<uint64_t>& name_at);

// Calls take(k) for each key, ascending, whose name contains needle (folded
// to lower case already) in any ASCII case, until take returns false.
// Needles shorter than three bytes are looked for in every name.
void for_each_name_containing(const name_grams& grams, const std::string& text,
                              const std::vector<uint64_t>& name_at, std::string_view needle,
                              const std::function<bool(int32_t)>& take);
