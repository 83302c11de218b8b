#include "decimal.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

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

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// True when text has the shape described in decimal.h, checked before strtod,
// which would also take blanks, hexadecimal, "inf" and "nan".
bool real_shape(const char* p) {
    if (*p == '-') ++p;
    int digits = 0;
    for (; is_digit(*p); ++p)
        ++digits;
    if (*p == '.')
        for (++p; is_digit(*p); ++p)
            ++digits;
    if (digits == 0) return false;
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        if (!is_digit(*p)) return false;
        while (is_digit(*p))
            ++p;
    }
    return *p == '\0';
}

} // namespace

std::optional<double> parse_real(const char* text, double min, double max) {
    if (!real_shape(text)) return std::nullopt;
    const int saved = errno;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    const bool range_error = errno == ERANGE;
    errno = saved;
    if (range_error || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    if (!(value >= min && value <= max)) return std::nullopt;
    return value;
}
