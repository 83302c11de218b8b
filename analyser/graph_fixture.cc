#include "graph_fixture.h"

#include "key_import.h"
#include "strong_sets.h"

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

const char* const REPORT_PREAMBLE =
    "This individual key report was generated as part of the monthly korvalinde\n"
    "report at https://nimvara.example.org/korvalinde/.\n\n"
    "Note: Key signature counts and lists are from a pruned list that only\n"
    "includes keys with signatures other than their own.\n\n";

key_graph graph_of(int32_t key_count, const std::vector<signature_edge>& edges) {
    key_graph g;
    g.key_count = key_count;
    for (int32_t k = 0; k < key_count; ++k)
        g.key_table.push_back({0, static_cast<uint32_t>(0x10 + k)});
    g.sig_count = static_cast<int64_t>(edges.size());
    g.signed_by_start.assign(static_cast<size_t>(key_count) + 1, 0);
    g.signs_start.assign(static_cast<size_t>(key_count) + 1, 0);
    for (const auto& [from, to] : edges) {
        ++g.signs_start[static_cast<size_t>(from) + 1];
        ++g.signed_by_start[static_cast<size_t>(to) + 1];
    }
    for (size_t k = 1; k <= static_cast<size_t>(key_count); ++k) {
        g.signs_start[k] += g.signs_start[k - 1];
        g.signed_by_start[k] += g.signed_by_start[k - 1];
    }
    g.signs_keys.resize(edges.size());
    g.signed_by_keys.resize(edges.size());
    std::vector<int64_t> out(g.signs_start.begin(), g.signs_start.end() - 1);
    std::vector<int64_t> in(g.signed_by_start.begin(), g.signed_by_start.end() - 1);
    for (const auto& [from, to] : edges) {
        g.signs_keys[static_cast<size_t>(out[static_cast<size_t>(from)]++)] = to;
        g.signed_by_keys[static_cast<size_t>(in[static_cast<size_t>(to)]++)] = from;
    }
    return g;
}

namespace {

struct tarjan_search {
    const key_graph& g;
    std::vector<int32_t> visit_number, low_link, assigned, set_stack;
    int32_t visit_counter = 0;
    reference_result result;

    explicit tarjan_search(const key_graph& graph)
        : g(graph), visit_number(static_cast<size_t>(g.key_count)),
          low_link(static_cast<size_t>(g.key_count)), assigned(static_cast<size_t>(g.key_count)) {
        result.sets.component_of.assign(static_cast<size_t>(g.key_count), 0);
    }

    void visit_key(int32_t v) {
        visit_number[v] = low_link[v] = ++visit_counter;
        set_stack.push_back(v);
        for (int32_t w : signed_by(g, v)) {
            if (assigned[w]) continue;
            if (visit_number[w] == 0) {
                visit_key(w);
                low_link[v] = std::min(low_link[v], low_link[w]);
            } else {
                low_link[v] = std::min(low_link[v], visit_number[w]);
            }
        }
        if (low_link[v] != visit_number[v]) return;
        int32_t count = 0, w;
        do {
            w = set_stack.back();
            set_stack.pop_back();
            result.sets.component_of[w] = v;
            assigned[w] = 1;
            ++count;
            char line[32];
            std::snprintf(line, sizeof line, "%08X %08X\n", g.key_table[w].id_high,
                          g.key_table[w].id_low);
            result.othersets += line;
        } while (w != v);
        result.othersets +=
            "*** " + std::to_string(count) + " keys in this strongly connected set\n\n";
        // The first largest set found is the strong set.
        if (count > result.sets.strong_set_size) {
            result.sets.strong_set_size = count;
            result.sets.strong_set_root = v;
        }
    }
};

} // namespace

reference_result reference_sets(const key_graph& g) {
    tarjan_search search(g);
    for (int32_t k = 0; k < g.key_count; ++k)
        if (search.visit_number[k] == 0) search.visit_key(k);
    set_results& s = search.result.sets;
    // The keys reachable from the strong set along signs.
    s.reachable.assign(static_cast<size_t>(g.key_count), 0);
    std::vector<int32_t> queue;
    for (int32_t k = 0; k < g.key_count; ++k)
        if (s.component_of[k] == s.strong_set_root) {
            s.reachable[k] = 1;
            queue.push_back(k);
        }
    for (size_t head = 0; head < queue.size(); ++head)
        for (int32_t w : signs(g, queue[head]))
            if (!s.reachable[w]) {
                s.reachable[w] = 1;
                queue.push_back(w);
            }
    s.reachable_size = static_cast<int32_t>(queue.size());
    return std::move(search.result);
}

std::string stream_text(FILE* stream) {
    std::string text;
    (void)std::fflush(stream); // a failed flush shows as missing text
    std::rewind(stream);
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
        text.append(buffer, n);
    return text;
}

bool import_generated(const std::string& command, key_graph& g, set_results& s,
                      std::string& error) {
    char path[] = "/tmp/generated_keys_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        error = "cannot create a temporary file";
        return false;
    }
    (void)close(fd); // written again by name; nothing was written through fd
    const std::string run = command + " >" + path;
    FILE* input = nullptr;
    bool ok = false;
    // NOLINTNEXTLINE(cert-env33-c): the generator runs through sh on purpose
    if (std::system(run.c_str()) != 0) {
        error = "failed: " + run;
    } else if ((input = std::fopen(path, "r")) == nullptr) {
        error = "cannot open the generated list";
    } else if (import_keys(input, command.c_str(), nullptr, g) != 0) {
        error = "the import failed: " + command;
    } else {
        find_sets(g, nullptr, nullptr, s);
        ok = true;
    }
    if (input != nullptr) (void)std::fclose(input); // read only
    (void)unlink(path);                             // a temporary: nothing to keep
    return ok;
}
