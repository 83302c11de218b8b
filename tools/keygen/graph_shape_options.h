// The command-line options that keygen and pgpgen share: the seed, the number
// of keys, the signatures per key and the shape of the signature graph, and
// the form of every probability option (keygen's noise, pgpgen's shares and
// noise). One table, one set of bounds, one wording of their messages.
#pragma once

#include "keygen_settings.h"

#include <getopt.h>
#include <string>
#include <vector>

// What getopt_long returns for a shared option without a letter: this plus
// its place in the table.
constexpr int GRAPH_OPTION_BASE = 1024;

// Appends the shared options to a getopt_long table (without its terminator)
// and their letters, with ':' where a value follows, to short_options.
void add_graph_shape_options(std::vector<option>& options, std::string& short_options);

enum class option_outcome { not_shared, applied, bad_value };

// If c (from getopt_long) is a shared option, reads value into settings;
// for a bad value error says that the option, as written, wanted.
option_outcome apply_graph_shape_option(int c, const char* value, const std::string& written,
                                        keygen_settings& settings, std::string& error);

// A probability, 0 to 1, for the option written as option_name; for a bad
// value error says so.
bool parse_probability(const std::string& option_name, const char* value, double& result,
                       std::string& error);

// The cross-checks of the shared options once all are read.
bool check_graph_shape(const keygen_settings& settings, std::string& error);
