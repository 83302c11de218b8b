// The JSON line of each kind of answer, exactly.
#include "path_output.h"
#include "path_test_graphs.h"

#include <gtest/gtest.h>

namespace {

TEST(PathOutput, JsonLines) {
    std::vector<uint64_t> ids{0xA, 0xB, 0xC, 0xD};
    path_index ix = index_of_text(key_list_text(ids, {{0, 1}, {1, 2}, {0, 2}}));
    key_names names{{0xA, "Alice \"A\" <a@example.org>"}, {0xC, "Carol \\x01"}};

    path_answer path;
    path.hops = 1;
    path.paths_total = 1;
    path.paths = {{0, 2}};
    path.disjoint = 2;
    path_answer saturated = path;
    saturated.paths_total = PATH_COUNT_MAX;
    saturated.paths_saturated = true;
    saturated.disjoint_at_least = true;
    path_answer none;
    path_answer same;
    same.hops = 0;
    same.paths_total = 1;
    same.paths = {{3}};
    same.disjoint = 1;

    struct json_case {
        query_keys q;
        const path_answer& answer;
        const char* line;
    };
    const json_case cases[] = {
        {{ix, nullptr, 0, 2},
         path,
         R"({"from":"000000000000000A","to":"000000000000000C","hops":1,"paths_total":1,)"
         R"("paths_total_saturated":false,"paths":[["000000000000000A","000000000000000C"]],)"
         R"("disjoint":2,"disjoint_at_least":false})"},
        {{ix, nullptr, 0, 2},
         saturated,
         R"({"from":"000000000000000A","to":"000000000000000C","hops":1,)"
         R"("paths_total":18446744073709551615,"paths_total_saturated":true,)"
         R"("paths":[["000000000000000A","000000000000000C"]],"disjoint":2,"disjoint_at_least":true})"},
        {{ix, nullptr, 3, 0},
         none,
         R"({"from":"000000000000000D","to":"000000000000000A","hops":null,"paths_total":0,)"
         R"("paths_total_saturated":false,"paths":[],"disjoint":0,"disjoint_at_least":false})"},
        {{ix, nullptr, 3, 3},
         same,
         R"({"from":"000000000000000D","to":"000000000000000D","hops":0,"paths_total":1,)"
         R"("paths_total_saturated":false,"paths":[["000000000000000D"]],"disjoint":1,)"
         R"("disjoint_at_least":false})"},
        {{ix, &names, 0, 2},
         path,
         R"({"from":"000000000000000A","to":"000000000000000C","hops":1,"paths_total":1,)"
         R"("paths_total_saturated":false,"paths":[["000000000000000A","000000000000000C"]],)"
         R"("disjoint":2,"disjoint_at_least":false,"names":{"000000000000000A":)"
         R"("Alice \"A\" <a@example.org>","000000000000000C":"Carol \\x01"}})"},
    };
    for (const json_case& c : cases) {
        std::string out;
        append_json_answer(out, c.q, c.answer);
        EXPECT_EQ(out, std::string(c.line) + "\n");
    }
    std::string out;
    append_json_error(out, "x\"y", std::nullopt, "malformed key name \"x\\\"y\"\t");
    EXPECT_EQ(out, R"({"from":"x\"y","to":null,"error":"malformed key name \"x\\\"y\"\u0009"})"
                   "\n");
}

TEST(PathOutput, DotEscapesNames) {
    std::vector<uint64_t> ids{0xA, 0xB};
    path_index ix = index_of_text(key_list_text(ids, {{0, 1}}));
    key_names names{{0xA, "Al \"x\" \\x01"}};
    path_answer a;
    a.hops = 1;
    a.paths_total = 1;
    a.paths = {{0, 1}};
    a.disjoint = 1;
    std::string out;
    append_dot_answer(out, {ix, &names, 0, 1}, a);
    EXPECT_NE(out.find(R"(label="00000000 0000000A\nAl \"x\" \\x01"])"), std::string::npos) << out;
    EXPECT_NE(out.find(R"("000000000000000A" -> "000000000000000B";)"), std::string::npos) << out;
}

} // namespace
