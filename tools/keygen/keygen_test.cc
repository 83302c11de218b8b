// Runs the built keygen through sh and checks the key lists it writes: their
// record format, determinism, size, and the shape of the signature graph.
#include "key_list_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <queue>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

struct run_result {
    int status; // exit status, or -1 when it did not exit normally
    std::string out;
};

run_result run_keygen(const std::string& args) {
    const std::string command = std::string(KEYGEN_PATH) + " " + args + " 2>/dev/null";
    // NOLINTNEXTLINE(cert-env33-c): the generator runs through sh on purpose
    std::FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return {-1, {}};
    run_result r{-1, {}};
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        r.out.append(buffer, got);
    const int status = pclose(p);
    if (status != -1 && WIFEXITED(status)) r.status = WEXITSTATUS(status);
    return r;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The signature graph as the analyser reads it: keys numbered by their first
// "p" record, ids compared case-blind, records not ending in a line feed
// skipped, signatures by unknown keys dropped.
struct read_graph {
    std::vector<std::string> ids;
    std::vector<std::pair<int, int>> edges; // signer -> signed key
    std::size_t records = 0, p_records = 0, s_records = 0, other_records = 0;
    std::size_t unknown_signers = 0, self_signatures = 0;
};

read_graph read_key_list(const std::string& text) {
    read_graph g;
    std::unordered_map<std::string, int> index;
    for (std::size_t at = 0; at + 18 <= text.size(); at += 18)
        if (text[at + 17] == '\n' && text[at] == 'p') {
            const std::string id = upper(text.substr(at + 1, 16));
            if (index.emplace(id, static_cast<int>(g.ids.size())).second) g.ids.push_back(id);
        }
    int current = -1;
    for (std::size_t at = 0; at + 18 <= text.size(); at += 18) {
        ++g.records;
        const char type = text[at];
        if (text[at + 17] != '\n' || (type != 'p' && type != 's')) {
            ++g.other_records;
            continue;
        }
        const auto found = index.find(upper(text.substr(at + 1, 16)));
        const int key = found == index.end() ? -1 : found->second;
        if (type == 'p') {
            ++g.p_records;
            current = key;
        } else {
            ++g.s_records;
            if (key < 0) {
                ++g.unknown_signers;
            } else if (current >= 0) {
                g.self_signatures += key == current;
                g.edges.emplace_back(key, current);
            }
        }
    }
    return g;
}

// Index of the first record not in the written form of key_list_format.h,
// or the record count when all are.
std::size_t first_malformed_record(const std::string& text) {
    for (std::size_t at = 0; at + RECORD_SIZE <= text.size(); at += RECORD_SIZE)
        if (!is_written_form(text.data() + at)) return at / RECORD_SIZE;
    return text.size() / RECORD_SIZE;
}

struct graph_shape {
    std::size_t largest_set = 0;
    std::size_t reachable = 0; // from the largest set, itself included
    int max_distance = 0;
    std::size_t reciprocal_edges = 0;
    std::size_t max_in_degree = 0, max_out_degree = 0;
    std::size_t distinct_edges = 0;
    std::vector<int> distance; // by key index: 0 in the largest set, -1 unreachable
};

// Kosaraju's strongly connected sets with explicit stacks, then a
// breadth-first search from the largest set over signer -> signed edges.
graph_shape measure(const read_graph& g) {
    const std::size_t n = g.ids.size();
    std::vector<std::vector<int>> out(n), in(n);
    std::set<std::pair<int, int>> distinct(g.edges.begin(), g.edges.end());
    graph_shape shape;
    shape.distinct_edges = distinct.size();
    for (auto [a, b] : distinct) {
        out[a].push_back(b);
        in[b].push_back(a);
        if (a != b && distinct.count({b, a})) ++shape.reciprocal_edges;
    }
    for (std::size_t k = 0; k < n; ++k) {
        shape.max_in_degree = std::max(shape.max_in_degree, in[k].size());
        shape.max_out_degree = std::max(shape.max_out_degree, out[k].size());
    }

    std::vector<int> finish_order;
    std::vector<char> seen(n, 0);
    for (std::size_t s = 0; s < n; ++s) {
        if (seen[s]) continue;
        std::vector<std::pair<int, std::size_t>> stack{{static_cast<int>(s), 0}};
        seen[s] = 1;
        while (!stack.empty()) {
            auto& [v, next] = stack.back();
            if (next < out[v].size()) {
                const int w = out[v][next++];
                if (!seen[w]) {
                    seen[w] = 1;
                    stack.emplace_back(w, 0);
                }
            } else {
                finish_order.push_back(v);
                stack.pop_back();
            }
        }
    }
    std::vector<int> set_of(n, -1);
    std::vector<std::size_t> set_size;
    for (auto it = finish_order.rbegin(); it != finish_order.rend(); ++it) {
        if (set_of[*it] >= 0) continue;
        const int id = static_cast<int>(set_size.size());
        set_size.push_back(0);
        std::vector<int> stack{*it};
        set_of[*it] = id;
        while (!stack.empty()) {
            const int v = stack.back();
            stack.pop_back();
            ++set_size[id];
            for (int w : in[v])
                if (set_of[w] < 0) {
                    set_of[w] = id;
                    stack.push_back(w);
                }
        }
    }
    if (set_size.empty()) return shape;
    const int strong =
        static_cast<int>(std::max_element(set_size.begin(), set_size.end()) - set_size.begin());
    shape.largest_set = set_size[strong];

    std::vector<int>& distance = shape.distance;
    distance.assign(n, -1);
    std::queue<int> queue;
    for (std::size_t k = 0; k < n; ++k)
        if (set_of[k] == strong) {
            distance[k] = 0;
            queue.push(static_cast<int>(k));
        }
    while (!queue.empty()) {
        const int v = queue.front();
        queue.pop();
        ++shape.reachable;
        shape.max_distance = std::max(shape.max_distance, distance[v]);
        for (int w : out[v])
            if (distance[w] < 0) {
                distance[w] = distance[v] + 1;
                queue.push(w);
            }
    }
    return shape;
}

} // namespace

TEST(Keygen, SameSeedGivesSameBytesAndOtherSeedsDiffer) {
    const run_result a = run_keygen("-s 5 -n 3000");
    const run_result b = run_keygen("-n 3000 -s 5");
    const run_result c = run_keygen("-s 6 -n 3000");
    ASSERT_EQ(a.status, 0);
    EXPECT_FALSE(a.out.empty());
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out, c.out);

    // -o writes the same bytes as standard output.
    char path[] = "/tmp/keygen_test_XXXXXX";
    const int fd = mkstemp(path);
    // cppcheck-suppress resourceLeak ; the assertion returns only when there is no descriptor
    ASSERT_GE(fd, 0);
    EXPECT_EQ(close(fd), 0);
    ASSERT_EQ(run_keygen(std::string("-s 5 -n 3000 -o ") + path).status, 0);
    std::string written;
    if (std::FILE* f = std::fopen(path, "rb")) {
        char buffer[65536];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            written.append(buffer, got);
        (void)std::fclose(f);
    }
    (void)unlink(path);
    EXPECT_EQ(written, a.out);
}

TEST(Keygen, CleanListIsWellFormedAndSizedAsAsked) {
    struct size_case {
        const char* args;
        std::size_t keys;
        double mean;
    };
    for (const size_case& c :
         {size_case{"-n 10000", 10000, 5.6}, size_case{"-n 5000 -m 2", 5000, 2.0},
          size_case{"-n 3 -s 9", 3, 5.6}}) {
        const run_result r = run_keygen(c.args);
        ASSERT_EQ(r.status, 0) << c.args;
        ASSERT_EQ(r.out.size() % 18, 0U) << c.args;
        ASSERT_EQ(r.out[0], 'p') << c.args;
        EXPECT_EQ(first_malformed_record(r.out), r.out.size() / 18) << c.args;
        const read_graph g = read_key_list(r.out);
        EXPECT_EQ(g.p_records, c.keys) << c.args;
        EXPECT_EQ(g.ids.size(), c.keys) << c.args << ": ids must be distinct";
        EXPECT_EQ(g.unknown_signers, 0U) << c.args;
        // Every signature once, and self-signatures only on lone island keys.
        const std::set<std::pair<int, int>> distinct(g.edges.begin(), g.edges.end());
        EXPECT_EQ(distinct.size(), g.edges.size()) << c.args;
        if (c.keys >= 1000) {
            EXPECT_NEAR(double(g.s_records) / double(c.keys), c.mean, c.mean * 0.03) << c.args;
            EXPECT_LT(g.self_signatures, c.keys / 10) << c.args;
        }
    }
    for (const char* args : {"-n 0", "-n 1"}) {
        const run_result r = run_keygen(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.size(), std::string(args) == "-n 0" ? 0U : 18U);
    }
}

TEST(Keygen, GraphHasStrongSetTailsIslandsAndHubs) {
    const run_result r = run_keygen("-s 3 -n 20000");
    ASSERT_EQ(r.status, 0);
    const read_graph g = read_key_list(r.out);
    const graph_shape shape = measure(g);
    const double n = double(g.ids.size());
    const double mean_degree = double(shape.distinct_edges) / n;

    EXPECT_GT(shape.largest_set, n * 0.25);
    EXPECT_LT(shape.largest_set, n * 0.5);
    EXPECT_GT(shape.reachable, shape.largest_set + n * 0.2) << "tails below the strong set";
    EXPECT_LT(shape.reachable, n * 0.9) << "islands the strong set cannot reach";
    EXPECT_GT(shape.reciprocal_edges, shape.distinct_edges * 4 / 10);
    EXPECT_GT(double(shape.max_in_degree), 20 * mean_degree);
    EXPECT_GT(double(shape.max_out_degree), 20 * mean_degree);
    EXPECT_GT(shape.max_distance, 5);
    EXPECT_LE(shape.max_distance, 60);

    // Keys are written shuffled, not core first: the first tenth of the list
    // already mixes strong-set, tail and island keys in their overall shares.
    std::size_t strong = 0, unreachable = 0;
    const std::size_t head = g.ids.size() / 10;
    for (std::size_t k = 0; k < head; ++k) {
        strong += shape.distance[k] == 0;
        unreachable += shape.distance[k] < 0;
    }
    EXPECT_NEAR(double(strong) / double(head), double(shape.largest_set) / n, 0.05);
    EXPECT_NEAR(double(unreachable) / double(head), 1 - double(shape.reachable) / n, 0.05);
}

TEST(Keygen, ShapeKnobsChangeTheGraph) {
    // A chain of 40 single signatures gives distances past 30 hops.
    const graph_shape long_chains =
        measure(read_key_list(run_keygen("-n 5000 --max-chain 40").out));
    EXPECT_GE(long_chains.max_distance, 40);

    // Without tails and islands every key is in the strong set.
    const graph_shape core_only =
        measure(read_key_list(run_keygen("-n 2000 --tail-fraction 0 --island-fraction 0").out));
    EXPECT_EQ(core_only.largest_set, 2000U);
    EXPECT_EQ(core_only.reachable, 2000U);

    // Only the mutual backbone is reciprocal when signatures are never returned.
    const graph_shape one_way = measure(read_key_list(
        run_keygen("-n 4000 --reciprocal 0 --tail-fraction 0 --island-fraction 0 -m 20").out));
    EXPECT_LT(one_way.reciprocal_edges, one_way.distinct_edges / 3);
}

TEST(Keygen, NoiseOptionsInjectWhatTheyName) {
    const std::string clean_args = "-s 4 -n 4000";
    const read_graph clean = read_key_list(run_keygen(clean_args).out);

    // The noise draws its own random numbers, so the graph stays the same.
    const run_result lower = run_keygen(clean_args + " --lower-case 0.5");
    ASSERT_EQ(lower.status, 0);
    EXPECT_NE(lower.out, run_keygen(clean_args).out);
    EXPECT_EQ(upper(lower.out), run_keygen(clean_args).out);

    const read_graph dups = read_key_list(run_keygen(clean_args + " --dup-keys 0.1").out);
    EXPECT_EQ(dups.ids.size(), 4000U);
    EXPECT_NEAR(double(dups.p_records), 4400, 100);

    const read_graph repeated = read_key_list(run_keygen(clean_args + " --dup-sigs 0.1").out);
    const std::set<std::pair<int, int>> distinct(repeated.edges.begin(), repeated.edges.end());
    EXPECT_EQ(distinct.size(), clean.edges.size());
    EXPECT_NEAR(double(repeated.edges.size()), clean.edges.size() * 1.1, clean.edges.size() * 0.02);

    const read_graph selfs = read_key_list(run_keygen(clean_args + " --self-sigs 0.2").out);
    EXPECT_NEAR(double(selfs.self_signatures), clean.self_signatures + 800.0, 100);

    const read_graph unknown = read_key_list(run_keygen(clean_args + " --unknown-signers 0.1").out);
    EXPECT_NEAR(double(unknown.unknown_signers), 400, 80);
    EXPECT_EQ(unknown.edges.size(), clean.edges.size());

    const read_graph bad = read_key_list(run_keygen(clean_args + " --bad-records 0.05").out);
    EXPECT_GT(bad.other_records, 0U);
    EXPECT_EQ(bad.ids.size(), 4000U);
    EXPECT_EQ(bad.edges.size(), clean.edges.size());

    const read_graph collide = read_key_list(run_keygen(clean_args + " --low-collisions 0.05").out);
    EXPECT_EQ(collide.ids.size(), 4000U) << "full ids stay distinct";
    std::map<std::string, std::set<std::string>> highs_by_low;
    for (const std::string& id : collide.ids)
        highs_by_low[id.substr(8)].insert(id.substr(0, 8));
    std::size_t shared = 0;
    for (const auto& [low, highs] : highs_by_low)
        shared += highs.size() > 1;
    EXPECT_GT(shared, 100U);
}

TEST(Keygen, HelpAndBadCommandLines) {
    const run_result help = run_keygen("-h");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: keygen"), std::string::npos);
    EXPECT_NE(help.out.find("--max-chain"), std::string::npos);

    // Usage errors end with status 2, a failure to write with 1.
    for (const char* args : {"-n abc", "--island-fraction 2", "-z", "-o /nonexistent-dir/x.keys"}) {
        const run_result r = run_keygen(args);
        EXPECT_EQ(r.status, std::string(args).starts_with("-o") ? 1 : 2) << args;
        EXPECT_TRUE(r.out.empty()) << args;
    }
}
