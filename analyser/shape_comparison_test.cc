// The fast analysis, in each of its ways, against the plain one on small
// lists of every shape shapegen makes, read through the real import: the
// mean distance lines and the reports must be the same bytes.
#include "fast_distance.h"
#include "key_import.h"
#include "key_report.h"
#include "plain_distance.h"
#include "strong_sets.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

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
    const char* shapes[] = {"ring 300",      "ring 4500",     "chain 400",
                            "grid 18 25",    "tail 40 500",   "star 150 900",
                            "star 60 300"};
    const std::pair<level_steps, const char*> ways[] = {
        {level_steps::adaptive, "adaptive"},
        {level_steps::top_down_only, "top-down"},
        {level_steps::single_source_only, "single-source"},
        {level_steps::batches_then_single, "batches, then single-source"},
    };
    for (const char* shape : shapes) {
        // The import reads its input twice, so the list goes to a file.
        char path[] = "/tmp/shape_comparison_test_XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(close(fd), 0); // written again by name
        std::string command = std::string(SHAPEGEN_PATH) + " " + shape + " >" + path;
        // NOLINTNEXTLINE(cert-env33-c): the generator runs through sh on purpose
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        FILE* input = std::fopen(path, "r");
        FILE* sink = std::fopen("/dev/null", "w");
        ASSERT_NE(input, nullptr);
        ASSERT_NE(sink, nullptr);
        key_graph g;
        ASSERT_EQ(import_keys(input, shape, sink, g), 0) << shape;
        set_results s;
        find_sets(g, sink, sink, s);
        (void)std::fclose(input); // read-only
        (void)std::fclose(sink);  // only ever written to /dev/null
        (void)unlink(path);
        const std::string want = all_output(g, s, plain_analysis(g, s, 2));
        for (auto [steps, name] : ways)
            for (int threads : {1, 2})
                EXPECT_TRUE(all_output(g, s, fast_analysis(g, s, threads, steps)) == want)
                    << shape << ", " << name << " on " << threads << " threads";
    }
}

} // namespace
