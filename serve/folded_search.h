// Finding text inside the names in any ASCII case, fast enough to read all
// of a million names for each search: sixteen places are tried at once by
// comparing the needle's first and last bytes (SSE2), and only the places
// where both fit are compared in full (W. Mula, "SIMD-friendly algorithms
// for substring searching", 2016).
#pragma once

#include <cstddef>
#include <string_view>

// The first place at or after from where needle occurs in text, ASCII
// letters compared in either case; needle must already be in lower case
// (as folded() gives it). std::string_view::npos when there is none; from
// itself for an empty needle.
size_t find_folded(std::string_view text, std::string_view needle, size_t from);
