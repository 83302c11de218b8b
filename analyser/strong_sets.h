// Strongly connected sets of the signature graph, the strong set (the
// largest of them) and the set of keys reachable from it.
#pragma once

#include "analysis_results.h"
#include "key_graph.h"

#include <cstdio>

// Finds the strongly connected sets with Tarjan's algorithm, searching from
// each key to the keys that signed it, starting at the unvisited keys in
// ascending index. Writes each set to othersets_file as it finishes (its keys
// in pop order, then a count line and an empty line). The largest set is the
// strong set; of equal sizes the one finished first wins. Then marks every
// key reachable from the strong set over signs lists and writes the two size
// lines to status_file. Either stream may be null: nothing is written to
// it. Runs without recursion, so the depth of the graph is
// not limited by the stack.
void find_sets(const key_graph& g, FILE* othersets_file, FILE* status_file, set_results& s);
