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

// Keys whose name contains text in any ASCII case, in id order: the first
// ones in key order, up to the limit (counting the keys already found).
void add_name_matches(const served_data& d, std::string_view text, size_t limit,
                      std::vector<int32_t>& keys) {
    if (!d.has_names || text.empty() || text.find('\n') != std::string_view::npos) return;
    std::string needle;
    for (char c : text)
        needle += static_cast<char>(folded(c));
    std::vector<int32_t> found;
    for_each_name_containing(d.grams, d.names, d.name_at, needle, [&](int32_t k) {
        if (found.size() + keys.size() >= limit) return false;
        if (std::find(keys.begin(), keys.end(), k) == keys.end()) found.push_back(k);
        return true;
    });
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
