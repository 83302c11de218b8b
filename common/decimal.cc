#include "decimal.h"

std::optional<uint64_t> parse_decimal(std::string_view text, uint64_t min, uint64_t max) {
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<uint64_t> parse_decimal(const char* text, uint64_t min, uint64_t max) {
    return parse_decimal(std::string_view(text), min, max);
}
