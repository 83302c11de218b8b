// Report files that the current run did not write: an output directory
// used for an earlier run keeps that run's reports, which would be
// published with the page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Counts the report files in dir (ending in "/"), in either layout, whose
// name is not the id_low of a key in listed (the id_lows of msd.txt, in any
// order; sorted here). One scan of the directory and its two-digit
// subdirectories; nothing is opened but directories.
int64_t count_stale_reports(const std::string& dir, std::vector<uint32_t>& listed);
