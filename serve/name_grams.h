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

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr unsigned GRAM_BUCKET_BITS = 18;
constexpr size_t GRAM_BUCKETS = size_t{1} << GRAM_BUCKET_BITS;
// At most this many of a text's trigram lists are walked together.
constexpr size_t GRAM_LISTS_JOINED = 4;

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
template <typename Take>
void for_each_name_containing(const name_grams& grams, const std::string& text,
                              const std::vector<uint64_t>& name_at, std::string_view needle,
                              Take take);

// The bucket of the trigram at p (three bytes, any case).
uint32_t gram_bucket(const char* p);

// Whether name contains needle (lower case) in any ASCII case.
bool contains_folded(std::string_view name, std::string_view needle);

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

template <typename Take>
void for_each_name_containing(const name_grams& grams, const std::string& text,
                              const std::vector<uint64_t>& name_at, std::string_view needle,
                              Take take) {
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
