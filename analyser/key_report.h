// The per-key report files.
#pragma once

#include "analysis_results.h"
#include "key_graph.h"
#include "run_settings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Appends the report of one analysed key to out, with the farthest members
// given (ascending key index) or those in stats, naming address as the place
// where the reports are published.
void format_key_report(std::string& out, const key_graph& g, const set_results& s, int32_t key,
                       const key_stats& stats, const std::vector<int32_t>& farthest,
                       std::string_view address = DEFAULT_REPORT_ADDRESS);
void format_key_report(std::string& out, const key_graph& g, const set_results& s, int32_t key,
                       const key_stats& stats, std::string_view address = DEFAULT_REPORT_ADDRESS);

// The directory of a report (output_dir plus the first two digits of the
// name when use_subdirs is set, otherwise output_dir itself) and its path.
std::string report_directory(const run_settings& settings, uint32_t id_low);
std::string report_path(const run_settings& settings, uint32_t id_low);

// Writes the reports of every key in table on settings.threads threads. Keys
// whose id_low agree share one file, which gets all their reports one after
// the other in key-index order. A report that cannot be written is reported
// on standard error with its path and the others are still written. Returns
// 0, or 1 when any report failed. Each key's compact farthest list is freed
// once its report has been formatted.
int write_key_reports(const run_settings& settings, const key_graph& g, const set_results& s,
                      distance_table& table);
