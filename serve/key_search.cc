#include "key_search.h"

#include "key_name.h"

#include <algorithm>
#include <optional>

namespace {

constexpr size_t CANDIDATES_LISTED = 20;

// The value of 1 to 16 hexadecimal digits.
std::optional<uint64_t> hex_value(std::string_view digits) {
    if (digits.empty() || digits.size() > 16) return std::nullopt;
    return parse_hex(digits);
}

void add_once(std::vector<int32_t>& keys, int32_t k) {
    if (std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);
}

void add_id_prefix_matches(const served_data& d, std::string_view text, size_t limit,
                           std::vector<int32_t>& keys) {
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
    if (digits.size() == 40 && hex_value(digits.substr(0, 16)) && hex_value(digits.substr(16, 8)))
        digits.remove_prefix(24);
    std::optional<uint64_t> prefix = hex_value(digits);
    if (!prefix) return;
    unsigned shift = static_cast<unsigned>(64 - 4 * digits.size());
    uint64_t low = shift == 64 ? 0 : *prefix << shift;
    const std::vector<uint64_t>& ids = d.ix.ids;
    auto it = std::lower_bound(d.by_id.begin(), d.by_id.end(), low, [&ids](int32_t k, uint64_t id) {
        return ids[static_cast<size_t>(k)] < id;
    });
    for (; it != d.by_id.end() && keys.size() < limit; ++it) {
        uint64_t id = ids[static_cast<size_t>(*it)];
        if (shift < 64 && (id >> shift) != *prefix) break;
        if (*it == key_of_id(d.ix, id)) add_once(keys, *it);
    }
}

// How the name text from offset compares with word, over word's length:
// negative, zero (word starts there) or positive. A name's end ('\n')
// sorts before anything a word holds.
int compare_at(const std::string& text, uint32_t offset, std::string_view word) {
    for (size_t i = 0; i < word.size(); ++i) {
        unsigned char a = folded(text[offset + i]);
        auto b = static_cast<unsigned char>(word[i]);
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

// Keys whose name holds text where a word of it begins (text's leading
// blanks and punctuation included before that word), in id order.
void add_name_matches(const served_data& d, std::string_view text, size_t limit,
                      std::vector<int32_t>& keys) {
    if (!d.has_names || text.find('\n') != std::string_view::npos) return;
    std::string needle;
    for (char c : text)
        needle += static_cast<char>(folded(c));
    size_t lead = 0;
    while (lead < needle.size() && !is_word_char(needle[lead]))
        ++lead;
    if (lead == needle.size()) return;
    std::string_view word = std::string_view(needle).substr(lead);
    std::string_view before = std::string_view(needle).substr(0, lead);
    const std::string& names = d.names;
    auto it = std::lower_bound(
        d.word_starts.begin(), d.word_starts.end(), word,
        [&names](uint32_t offset, std::string_view w) { return compare_at(names, offset, w) < 0; });
    std::vector<int32_t> found;
    for (; it != d.word_starts.end() && found.size() + keys.size() < limit &&
           compare_at(names, *it, word) == 0;
         ++it) {
        if (*it < lead || compare_at(names, *it - static_cast<uint32_t>(lead), before) != 0)
            continue;
        auto name = std::upper_bound(d.name_at.begin(), d.name_at.end(), uint64_t{*it});
        auto k = static_cast<int32_t>(name - d.name_at.begin() - 1);
        if (std::find(keys.begin(), keys.end(), k) == keys.end()) add_once(found, k);
    }
    const std::vector<uint64_t>& ids = d.ix.ids;
    std::sort(found.begin(), found.end(), [&ids](int32_t a, int32_t b) {
        return ids[static_cast<size_t>(a)] < ids[static_cast<size_t>(b)];
    });
    keys.insert(keys.end(), found.begin(), found.end());
}

} // namespace

std::vector<int32_t> search_keys(const served_data& data, std::string_view text, size_t limit) {
    std::vector<int32_t> keys;
    if (text.empty() || limit == 0) return keys;
    add_id_prefix_matches(data, text, limit, keys);
    add_name_matches(data, text, limit, keys);
    return keys;
}

key_resolution resolve_key(const served_data& data, std::string_view text, bool names_too) {
    key_resolution r;
    key_choice choice = find_named_key(data.ix, text);
    if (choice.key >= 0) {
        r.key = choice.key;
        return r;
    }
    r.unknown = choice.error.starts_with("unknown key");
    if (choice.error.starts_with("ambiguous")) {
        // Eight digits that end several key ids: those keys are the choice.
        std::string_view digits = text.size() == 10 ? text.substr(2) : text;
        std::optional<uint64_t> low = hex_value(digits);
        for (int32_t k : keys_with_low_half(data.ix, static_cast<uint32_t>(low.value_or(0))))
            if (r.candidates.size() < CANDIDATES_LISTED)
                r.candidates.push_back(k);
            else
                r.more_candidates = true;
    }
    bool malformed = choice.error.starts_with("malformed");
    if (!names_too || !data.has_names || !malformed || text.empty()) {
        r.error = choice.error;
        return r;
    }
    std::vector<int32_t> keys;
    add_name_matches(data, text, CANDIDATES_LISTED + 1, keys);
    if (keys.size() == 1) {
        r.key = keys[0];
        return r;
    }
    r.more_candidates = keys.size() > CANDIDATES_LISTED;
    if (r.more_candidates) keys.pop_back();
    r.candidates = std::move(keys);
    r.unknown = r.candidates.empty();
    r.error = r.candidates.empty()
                  ? "no key has a name containing \"" + std::string(text) + "\""
                  : "several keys have a name containing \"" + std::string(text) + "\"";
    return r;
}
