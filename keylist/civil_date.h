// Calendar dates as days since 1970-01-01, for the listing's ISO times and
// the --as-of option.
#pragma once

#include <cstdint>

// The largest number of seconds a time field of the listing or --as-of may
// give: INT64_MAX less a margin (its last digit brought down to 9), so that
// a time near the limit cannot overflow.
constexpr uint64_t MAX_SECONDS = (INT64_MAX - 9) / 10 * 10 + 9;

// Days from 1970-01-01 to the given civil date in the proleptic Gregorian
// calendar (month 1-12, day 1-31); negative before 1970. Eras of 400 years
// make the leap rules plain arithmetic.
inline int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
