#include "name_grams.h"

#include "served_data.h"

namespace {

// Bytes of the LEB128 form of gap.
size_t coded_size(uint64_t gap) {
    size_t n = 1;
    while (gap >= 0x80) {
        gap >>= 7;
        ++n;
    }
    return n;
}

// Calls visit(bucket, key) for every trigram of every name, each bucket at
// most once per key: keys ascending, so "once" is "not the bucket's last".
template <typename Visit>
void each_name_bucket(const std::string& text, const std::vector<uint64_t>& name_at,
                      std::vector<int64_t>& last, Visit visit) {
    last.assign(GRAM_BUCKETS, -1);
    const size_t key_count = name_at.size() - 1;
    for (size_t k = 0; k < key_count; ++k) {
        const uint64_t begin = name_at[k];
        const uint64_t end = name_at[k + 1];
        if (end - begin < 4) continue; // two bytes and the '\n', or less
        for (uint64_t i = begin; i + 3 <= end - 1; ++i) {
            const uint32_t b = gram_bucket(text.data() + i);
            if (last[b] == static_cast<int64_t>(k)) continue;
            visit(b, static_cast<int64_t>(k) - last[b]);
            last[b] = static_cast<int64_t>(k);
        }
    }
}

} // namespace

uint32_t gram_bucket(const char* p) {
    const uint32_t gram = uint32_t{folded(p[0])} << 16 | uint32_t{folded(p[1])} << 8 | folded(p[2]);
    // Fibonacci hashing: the product's high bits mix all three bytes.
    return static_cast<uint32_t>((uint64_t{gram} * 0x9E3779B97F4A7C15u) >> (64 - GRAM_BUCKET_BITS));
}

bool contains_folded(std::string_view name, std::string_view needle) {
    if (needle.size() > name.size()) return false;
    for (size_t i = 0; i + needle.size() <= name.size(); ++i) {
        size_t j = 0;
        while (j < needle.size() && folded(name[i + j]) == static_cast<unsigned char>(needle[j]))
            ++j;
        if (j == needle.size()) return true;
    }
    return false;
}

name_grams index_name_grams(const std::string& text, const std::vector<uint64_t>& name_at) {
    // Two passes over the names: the size of each bucket's list, then the
    // lists themselves, so the index is built in place at its final size.
    name_grams grams;
    std::vector<int64_t> last;
    std::vector<uint64_t> cursor(GRAM_BUCKETS + 1, 0);
    each_name_bucket(text, name_at, last,
                     [&](uint32_t b, int64_t gap) { cursor[b + 1] += coded_size(gap); });
    for (size_t b = 0; b < GRAM_BUCKETS; ++b)
        cursor[b + 1] += cursor[b];
    grams.start = cursor;
    grams.gaps.resize(cursor[GRAM_BUCKETS]);
    each_name_bucket(text, name_at, last, [&](uint32_t b, int64_t gap) {
        auto g = static_cast<uint64_t>(gap);
        uint8_t* out = grams.gaps.data() + cursor[b];
        while (g >= 0x80) {
            *out++ = static_cast<uint8_t>(g | 0x80);
            g >>= 7;
        }
        *out++ = static_cast<uint8_t>(g);
        cursor[b] = static_cast<uint64_t>(out - grams.gaps.data());
    });
    return grams;
}
