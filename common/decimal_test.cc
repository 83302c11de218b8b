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

TEST(ParseReal, AcceptsFiniteDecimalNotationWithinBoundsOnly) {
    const struct {
        const char* text;
        double min, max;
        std::optional<double> value;
    } cases[] = {
        {"0", 0, 1, 0.0},        {"1", 0, 1, 1.0},      {"0.25", 0, 1, 0.25},
        {".5", 0, 1, 0.5},       {"5.", 0, 10, 5.0},    {"2.5e-1", 0, 1, 0.25},
        {"1E2", 0, 1e6, 100.0},  {"-0.5", -1, 1, -0.5}, {"1e+3", 0, 1e6, 1000.0},
        {"1.0000001", 0, 1, {}}, {"-0.1", 0, 1, {}},    {"", 0, 1, {}},
        {".", 0, 1, {}},         {"-", 0, 1, {}},       {"+0.5", 0, 1, {}},
        {" 0.5", 0, 1, {}},      {"0.5 ", 0, 1, {}},    {"0x1p-1", 0, 1, {}},
        {"nan", 0, 1, {}},       {"inf", 0, 1e308, {}}, {"infinity", 0, 1e308, {}},
        {"1e", 0, 1, {}},        {"1e+", 0, 1, {}},     {"0.5.5", 0, 1, {}},
        {"1e400", 0, 1e308, {}}, {"1e-400", 0, 1, {}},  {"0,5", 0, 1, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_real(c.text, c.min, c.max), c.value) << '"' << c.text << '"';
}
