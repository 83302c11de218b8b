// The fast analysis, in each of its ways, against the plain one on small
// lists of every shape shapegen makes, read through the real import: the
// mean distance lines and the reports must be the same bytes.
#include "fast_distance.h"
#include "graph_fixture.h"
#include "key_import.h"
#include "key_report.h"
#include "plain_distance.h"
#include "strong_sets.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// The mean distance line and the report of every key, as korvalinde writes
// them.
std::string all_output(const key_graph& g, const set_results& s, const distance_table& t) {
    std::string out;
    std::vector<int32_t> scratch;
    for (size_t i = 0; i < t.keys.size(); ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%08X %8.4f\n", g.key_table[t.keys[i]].id_low,
                      static_cast<double>(mean_distance(t.stats[i], s.strong_set_size)));
        out += line;
        format_key_report(out, g, s, t.keys[i], t.stats[i], farthest_keys_of(t, i, scratch));
    }
    return out;
}

TEST(ShapeComparison, EveryShapeEveryWay) {
    const char* shapes[] = {"ring 300",    "ring 4500",    "chain 400",  "grid 18 25",
                            "tail 40 500", "star 150 900", "star 60 300"};
    const std::pair<level_steps, const char*> ways[] = {
        {level_steps::adaptive, "adaptive"},
        {level_steps::top_down_only, "top-down"},
        {level_steps::word_searches_only, "word-wide"},
        {level_steps::batches_then_words, "batches, then word-wide"},
    };
    for (const char* shape : shapes) {
        key_graph g;
        set_results s;
        std::string error;
        ASSERT_TRUE(import_generated(std::string(SHAPEGEN_PATH) + " " + shape, g, s, error))
            << error;
        const std::string want = all_output(g, s, plain_analysis(g, s, 2));
        for (auto [steps, name] : ways)
            for (int threads : {1, 2})
                EXPECT_TRUE(all_output(g, s, fast_analysis(g, s, threads, steps)) == want)
                    << shape << ", " << name << " on " << threads << " threads";
    }
}

} // namespace
