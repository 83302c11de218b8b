#include "folded_search.h"

#include "served_data.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool matches_at(std::string_view text, size_t at, std::string_view needle) {
    for (size_t i = 0; i < needle.size(); ++i)
        if (folded(text[at + i]) != static_cast<unsigned char>(needle[i])) return false;
    return true;
}

#if defined(__SSE2__)
// Sixteen bytes with the ASCII capitals in lower case.
__m128i fold16(__m128i bytes) {
    const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8('A'));
    const __m128i capital = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8('Z' - 'A')), offset);
    return _mm_add_epi8(bytes, _mm_and_si128(capital, _mm_set1_epi8('a' - 'A')));
}
#endif

} // namespace

size_t find_folded(std::string_view text, std::string_view needle, size_t from) {
    if (needle.empty()) return from <= text.size() ? from : std::string_view::npos;
    if (text.size() < needle.size()) return std::string_view::npos;
    const size_t last = text.size() - needle.size(); // the last place a match may start
    size_t at = from;
#if defined(__SSE2__)
    const size_t span = needle.size() - 1;
    const __m128i first_byte = _mm_set1_epi8(static_cast<char>(needle.front()));
    const __m128i last_byte = _mm_set1_epi8(static_cast<char>(needle.back()));
    // Both loads lie inside text: [at, at + 16) and [at + span, at + span + 16).
    for (; at + span + 16 <= text.size(); at += 16) {
        const auto* p = reinterpret_cast<const __m128i*>(text.data() + at);
        const auto* q = reinterpret_cast<const __m128i*>(text.data() + at + span);
        const __m128i fits = _mm_and_si128(_mm_cmpeq_epi8(fold16(_mm_loadu_si128(p)), first_byte),
                                           _mm_cmpeq_epi8(fold16(_mm_loadu_si128(q)), last_byte));
        for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(fits)); mask != 0;
             mask &= mask - 1) {
            const size_t place = at + static_cast<size_t>(__builtin_ctz(mask));
            if (matches_at(text, place, needle)) return place;
        }
    }
#endif
    for (; at <= last; ++at)
        if (matches_at(text, at, needle)) return at;
    return std::string_view::npos;
}
