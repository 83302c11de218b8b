#include "key_name.h"

#include "names_file.h"
#include "visible_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <optional>

namespace {

// Ambiguous short names list this many candidates at most.
constexpr size_t CANDIDATES_SHOWN = 8;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool is_group_of_four(std::string_view word) {
    return word.size() == 4 && parse_hex(word).has_value();
}

} // namespace

std::optional<uint64_t> parse_hex(std::string_view digits) {
    uint64_t value = 0;
    for (char c : digits) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    return value;
}

std::vector<std::string> split_key_names(std::string_view text) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_blank(text[i]))
            ++i;
        size_t start = i;
        while (i < text.size() && !is_blank(text[i]))
            ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    constexpr size_t GROUPS = 10; // a fingerprint as gpg prints it
    std::vector<std::string> names;
    for (size_t w = 0; w < words.size();) {
        size_t run = 0;
        while (run < GROUPS && w + run < words.size() && is_group_of_four(words[w + run]))
            ++run;
        if (run == GROUPS) {
            std::string joined;
            for (size_t g = 0; g < GROUPS; ++g)
                joined += words[w + g];
            names.push_back(joined);
            w += GROUPS;
        } else {
            names.emplace_back(words[w]);
            ++w;
        }
    }
    return names;
}

std::string printed_key_id(uint64_t id) {
    char text[18];
    std::snprintf(text, sizeof text, "%08X %08X", static_cast<unsigned>(id >> 32),
                  static_cast<unsigned>(id & 0xFFFFFFFFU));
    return text;
}

std::string hex_key_id(uint64_t id) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIX64, id);
    return text;
}

key_choice find_named_key(const path_index& ix, std::string_view name) {
    std::string_view digits = name;
    // One quoted word may hold a fingerprint pasted with its blanks.
    std::vector<std::string> words;
    if (name.find_first_of(" \t\r") != std::string_view::npos) {
        words = split_key_names(name);
        if (words.size() == 1) digits = words[0];
    }
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
    // The name may be anything a query line holds: shown escaped.
    std::string shown = visible_text(escape_user_id(name));
    std::optional<uint64_t> value;
    if (digits.size() == 8 || digits.size() == 16 || digits.size() == 40)
        value = parse_hex(digits.size() == 40 ? digits.substr(24) : digits);
    if (!value || (digits.size() == 40 && !parse_hex(digits.substr(0, 24))))
        return {-1, "malformed key name \"" + shown +
                        "\" (16 or 40 hexadecimal digits, or the last 8 of a key id)"};
    if (digits.size() != 8) {
        int32_t key = key_of_id(ix, *value);
        if (key < 0) return {-1, "unknown key " + hex_key_id(*value)};
        return {key, {}};
    }
    std::vector<int32_t> keys = keys_with_low_half(ix, static_cast<uint32_t>(*value));
    if (keys.empty()) return {-1, "unknown key " + hex_key_id(*value).substr(8)};
    if (keys.size() == 1) return {keys[0], {}};
    std::string error = "ambiguous key " + hex_key_id(*value).substr(8) + ": " +
                        std::to_string(keys.size()) + " keys end in it:";
    std::vector<uint64_t> ids;
    ids.reserve(keys.size());
    for (int32_t k : keys)
        ids.push_back(ix.ids[static_cast<size_t>(k)]);
    std::sort(ids.begin(), ids.end());
    for (size_t i = 0; i < ids.size() && i < CANDIDATES_SHOWN; ++i)
        error += " " + hex_key_id(ids[i]);
    if (keys.size() > CANDIDATES_SHOWN) error += " ...";
    return {-1, error};
}
