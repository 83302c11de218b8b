#include "name_grams.h"

#include "served_data.h"

#include <algorithm>

namespace {

// At most this many of a text's trigram lists are walked together.
constexpr size_t GRAM_LISTS_JOINED = 4;

// The bucket of the trigram at p (three bytes, any case).
uint32_t gram_bucket(const char* p) {
    const uint32_t gram = uint32_t{folded(p[0])} << 16 | uint32_t{folded(p[1])} << 8 | folded(p[2]);
    // Fibonacci hashing: the product's high bits mix all three bytes.
    return static_cast<uint32_t>((uint64_t{gram} * 0x9E3779B97F4A7C15u) >> (64 - GRAM_BUCKET_BITS));
}

// Whether name contains needle (lower case) in any ASCII case.
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

// Reads the keys of one bucket in order.
struct gram_cursor {
    const uint8_t* at = nullptr;
    const uint8_t* end = nullptr;
    int64_t key = -1; // the current key; INT64_MAX once the list is done

    // Moves to the first key at or after k.
    void seek(int64_t k) {
        while (key < k)
            next();
    }
    void next() {
        if (at == end) {
            key = INT64_MAX;
            return;
        }
        uint64_t gap = 0;
        for (unsigned shift = 0; at != end; shift += 7) {
            uint8_t byte = *at++;
            gap |= uint64_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80) == 0) break;
        }
        key += static_cast<int64_t>(gap);
    }
};

// Bytes of the LEB128 form of gap.
size_t coded_size(uint64_t gap) {
    size_t n = 1;
    while (gap >= 0x80) {
        gap >>= 7;
        ++n;
    }
    return n;
}

// Calls visit(bucket, gap) for every trigram of every name, gap being the
// key's distance from the bucket's previous key (from -1), each bucket at
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

void for_each_name_containing(const name_grams& grams, const std::string& text,
                              const std::vector<uint64_t>& name_at, std::string_view needle,
                              const std::function<bool(int32_t)>& take) {
    const auto key_count = static_cast<int64_t>(name_at.size()) - 1;
    auto name_of = [&](int64_t k) {
        const uint64_t begin = name_at[static_cast<size_t>(k)];
        const uint64_t end = name_at[static_cast<size_t>(k) + 1];
        return begin == end ? std::string_view()
                            : std::string_view(text).substr(begin, end - begin - 1);
    };
    if (needle.size() < 3) {
        for (int64_t k = 0; k < key_count; ++k)
            if (contains_folded(name_of(k), needle) && !take(static_cast<int32_t>(k))) return;
        return;
    }
    // The needle's buckets, each once, the shortest list first.
    std::vector<uint32_t> buckets;
    buckets.reserve(needle.size() - 2);
    for (size_t i = 0; i + 3 <= needle.size(); ++i)
        buckets.push_back(gram_bucket(needle.data() + i));
    std::sort(buckets.begin(), buckets.end());
    buckets.erase(std::unique(buckets.begin(), buckets.end()), buckets.end());
    std::vector<gram_cursor> lists(buckets.size());
    std::transform(buckets.begin(), buckets.end(), lists.begin(), [&grams](uint32_t b) {
        return gram_cursor{grams.gaps.data() + grams.start[b],
                           grams.gaps.data() + grams.start[b + 1]};
    });
    std::sort(lists.begin(), lists.end(), [](const gram_cursor& a, const gram_cursor& b) {
        return a.end - a.at < b.end - b.at;
    });
    // Skipping along a list decodes every key it passes: a list much longer
    // than the shortest costs more than comparing the candidates it would
    // rule out, so only lists of about the shortest's length take part.
    const std::ptrdiff_t longest_kept = 8 * (lists.front().end - lists.front().at) + 64;
    size_t kept = 1;
    while (kept < lists.size() && kept < GRAM_LISTS_JOINED &&
           lists[kept].end - lists[kept].at <= longest_kept)
        ++kept;
    lists.resize(kept);
    for (gram_cursor& c : lists)
        c.next();
    // Leapfrog: each list moves up to the lead's key, and the lead up to
    // the first list that has skipped past it.
    gram_cursor& lead = lists.front();
    while (lead.key != INT64_MAX) {
        const int64_t k = lead.key;
        int64_t beyond = k;
        for (size_t i = 1; i < lists.size() && beyond == k; ++i) {
            lists[i].seek(k);
            beyond = lists[i].key;
        }
        if (beyond == INT64_MAX) return;
        if (beyond != k) {
            lead.seek(beyond);
            continue;
        }
        if (contains_folded(name_of(k), needle) && !take(static_cast<int32_t>(k))) return;
        lead.next();
    }
}
