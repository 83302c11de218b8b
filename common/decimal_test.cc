#include "decimal.h"

#include <gtest/gtest.h>

TEST(ParseDecimal, AcceptsPlainDigitsWithinBoundsOnly) {
    const struct {
        const char* text;
        uint64_t min, max;
        std::optional<uint64_t> value;
    } cases[] = {
        {"0", 0, UINT64_MAX, 0},
        {"42", 0, UINT64_MAX, 42},
        {"007", 0, UINT64_MAX, 7},
        {"18446744073709551615", 0, UINT64_MAX, UINT64_MAX},
        {"18446744073709551616", 0, UINT64_MAX, std::nullopt}, // one past 64 bits
        {"99999999999999999999999", 0, UINT64_MAX, std::nullopt},
        {"", 0, UINT64_MAX, std::nullopt},
        {"+1", 0, UINT64_MAX, std::nullopt},
        {"-1", 0, UINT64_MAX, std::nullopt},
        {" 1", 0, UINT64_MAX, std::nullopt},
        {"1 ", 0, UINT64_MAX, std::nullopt},
        {"0x10", 0, UINT64_MAX, std::nullopt},
        {"1e3", 0, UINT64_MAX, std::nullopt},
        {"1", 1, 512, 1},
        {"512", 1, 512, 512},
        {"0", 1, 512, std::nullopt},
        {"513", 1, 512, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_decimal(c.text, c.min, c.max), c.value) << '"' << c.text << '"';
    // A view stops where it ends, whatever follows in memory.
    EXPECT_EQ(parse_decimal(std::string_view("123x", 3)), 123U);
}
