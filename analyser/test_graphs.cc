#include "test_graphs.h"

key_graph graph_of(int32_t key_count, const std::vector<std::pair<int32_t, int32_t>>& edges) {
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
