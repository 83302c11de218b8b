#include "graph_fixture.h"

#include <algorithm>

key_graph graph_from_edges(int32_t key_count, const std::vector<signature_edge>& edges) {
    key_graph g;
    g.key_count = key_count;
    g.sig_count = static_cast<int64_t>(edges.size());
    g.key_table.resize(static_cast<size_t>(key_count));
    for (int32_t k = 0; k < key_count; ++k) {
        auto id = static_cast<uint64_t>(k) * 0x9E3779B97F4A7C15ULL + 0x0123456789ABCDEFULL;
        g.key_table[k] = {static_cast<uint32_t>(id >> 32), static_cast<uint32_t>(id)};
    }
    g.signed_by_start.assign(static_cast<size_t>(key_count) + 1, 0);
    g.signs_start.assign(static_cast<size_t>(key_count) + 1, 0);
    for (auto [from, to] : edges) {
        ++g.signed_by_start[to + 1];
        ++g.signs_start[from + 1];
    }
    for (int32_t k = 0; k < key_count; ++k) {
        g.signed_by_start[k + 1] += g.signed_by_start[k];
        g.signs_start[k + 1] += g.signs_start[k];
    }
    g.signed_by_keys.resize(edges.size());
    g.signs_keys.resize(edges.size());
    std::vector<int64_t> by_fill(g.signed_by_start.begin(), g.signed_by_start.end() - 1);
    std::vector<int64_t> signs_fill(g.signs_start.begin(), g.signs_start.end() - 1);
    for (auto [from, to] : edges) {
        g.signed_by_keys[by_fill[to]++] = from;
        g.signs_keys[signs_fill[from]++] = to;
    }
    return g;
}

set_results plain_sets(const key_graph& g) {
    const int32_t n = g.key_count;
    set_results s;
    s.component_of.assign(static_cast<size_t>(n), -1);
    s.reachable.assign(static_cast<size_t>(n), 0);
    // Iterative Tarjan over signs.
    std::vector<int32_t> index(static_cast<size_t>(n), -1), low(static_cast<size_t>(n), 0);
    std::vector<uint8_t> on_stack(static_cast<size_t>(n), 0);
    std::vector<int32_t> stack;
    std::vector<std::pair<int32_t, int64_t>> calls; // key, next edge position
    int32_t next_index = 0;
    std::vector<int32_t> size_of(static_cast<size_t>(n), 0);
    for (int32_t root = 0; root < n; ++root) {
        if (index[root] >= 0) continue;
        calls.push_back({root, g.signs_start[root]});
        index[root] = low[root] = next_index++;
        stack.push_back(root);
        on_stack[root] = 1;
        while (!calls.empty()) {
            auto& [v, pos] = calls.back();
            if (pos < g.signs_start[v + 1]) {
                int32_t w = g.signs_keys[pos++];
                if (index[w] < 0) {
                    index[w] = low[w] = next_index++;
                    stack.push_back(w);
                    on_stack[w] = 1;
                    calls.push_back({w, g.signs_start[w]});
                } else if (on_stack[w]) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            int32_t done = v;
            calls.pop_back();
            if (!calls.empty())
                low[calls.back().first] = std::min(low[calls.back().first], low[done]);
            if (low[done] != index[done]) continue;
            std::vector<int32_t> members;
            int32_t w;
            do {
                w = stack.back();
                stack.pop_back();
                on_stack[w] = 0;
                members.push_back(w);
            } while (w != done);
            int32_t label = *std::min_element(members.begin(), members.end());
            for (int32_t m : members)
                s.component_of[m] = label;
            size_of[label] = static_cast<int32_t>(members.size());
        }
    }
    if (n == 0) return s;
    s.strong_set_root = 0;
    for (int32_t k = 0; k < n; ++k)
        if (size_of[k] > size_of[s.strong_set_root]) s.strong_set_root = k;
    s.strong_set_size = size_of[s.strong_set_root];
    std::vector<int32_t> queue;
    for (int32_t k = 0; k < n; ++k) {
        if (s.component_of[k] == s.strong_set_root) {
            s.reachable[k] = 1;
            queue.push_back(k);
        }
    }
    for (size_t head = 0; head < queue.size(); ++head)
        for (int32_t w : signs(g, queue[head]))
            if (!s.reachable[w]) {
                s.reachable[w] = 1;
                queue.push_back(w);
            }
    s.reachable_size = static_cast<int32_t>(queue.size());
    return s;
}
