#include "keylist_options.h"

#include <gtest/gtest.h>

TEST(KeylistOptions, ReferenceDates) {
    EXPECT_EQ(parse_as_of("1970-01-01"), 0);
    EXPECT_EQ(parse_as_of("2020-01-03"), 1578009600);
    EXPECT_EQ(parse_as_of("2000-02-29"), 951782400);
    EXPECT_EQ(parse_as_of("1796817115"), 1796817115);
    EXPECT_EQ(parse_as_of("0"), 0);
    for (const char* bad : {"", "2001-02-29", "2020-13-01", "2020-00-10", "2020-04-31", "2020-1-01",
                            "2020-01-01x", "2020/01/01", "-5", "1e9", "99999999999999999999"})
        EXPECT_FALSE(parse_as_of(bad).has_value()) << bad;
}
