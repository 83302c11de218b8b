#include "path_output.h"

#include "json_text.h"
#include "key_name.h"
#include "visible_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

namespace {

uint64_t id_of(const query_keys& q, int32_t k) {
    return q.ix.ids[static_cast<size_t>(k)];
}

const std::string* name_of(const query_keys& q, int32_t k) {
    if (q.names == nullptr) return nullptr;
    auto it = q.names->find(id_of(q, k));
    return it == q.names->end() ? nullptr : &it->second;
}

// "01234567 89ABCDEF", and "  user id" when the names file has one.
void append_text_key(std::string& out, const query_keys& q, int32_t k) {
    out += printed_key_id(id_of(q, k));
    if (const std::string* name = name_of(q, k)) {
        out += "  ";
        out += visible_text(*name);
    }
}

void append_count(std::string& out, uint64_t n, const char* one, const char* many) {
    out += std::to_string(n);
    out += ' ';
    out += n == 1 ? one : many;
}

// The keys of the answer: the two ends and every key of a listed path,
// each once.
std::vector<int32_t> keys_shown(const query_keys& q, const path_answer& answer) {
    std::vector<int32_t> keys{q.from, q.to};
    for (const auto& path : answer.paths)
        keys.insert(keys.end(), path.begin(), path.end());
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

// text inside a Graphviz double-quoted string, hidden code points shown
// as "\uXXXX" (visible_text.h).
std::string dot_escape(std::string_view raw) {
    const std::string text = visible_text(raw);
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

} // namespace

void append_text_answer(std::string& out, const query_keys& q, const path_answer& answer) {
    out += "from ";
    append_text_key(out, q, q.from);
    out += "\nto   ";
    append_text_key(out, q, q.to);
    out += '\n';
    if (answer.hops < 0) {
        out += "no path\n\n";
        return;
    }
    append_count(out, static_cast<uint64_t>(answer.hops), "hop", "hops");
    out += ", ";
    if (answer.paths_saturated) out += "at least ";
    append_count(out, answer.paths_total, "shortest path", "shortest paths");
    out += ", ";
    append_count(out, static_cast<uint64_t>(answer.disjoint), "disjoint path", "disjoint paths");
    if (answer.disjoint_at_least) out += " or more";
    out += '\n';
    for (size_t i = 0; i < answer.paths.size(); ++i) {
        out += "path " + std::to_string(i + 1) + ":\n";
        for (int32_t k : answer.paths[i]) {
            out += "  ";
            append_text_key(out, q, k);
            out += '\n';
        }
    }
    out += '\n';
}

void append_json_answer(std::string& out, const query_keys& q, const path_answer& answer) {
    out += "{\"from\":\"" + hex_key_id(id_of(q, q.from)) + "\",\"to\":\"" +
           hex_key_id(id_of(q, q.to)) + "\",\"hops\":";
    out += answer.hops < 0 ? std::string("null") : std::to_string(answer.hops);
    out += ",\"paths_total\":" + std::to_string(answer.paths_total);
    out += ",\"paths_total_saturated\":";
    out += answer.paths_saturated ? "true" : "false";
    out += ",\"paths\":[";
    for (size_t i = 0; i < answer.paths.size(); ++i) {
        out += i == 0 ? "[" : ",[";
        for (size_t j = 0; j < answer.paths[i].size(); ++j) {
            if (j > 0) out += ',';
            out += '"' + hex_key_id(id_of(q, answer.paths[i][j])) + '"';
        }
        out += ']';
    }
    out += "],\"disjoint\":" + std::to_string(answer.disjoint);
    out += ",\"disjoint_at_least\":";
    out += answer.disjoint_at_least ? "true" : "false";
    if (q.names != nullptr) {
        out += ",\"names\":{";
        bool first = true;
        for (int32_t k : keys_shown(q, answer)) {
            const std::string* name = name_of(q, k);
            if (name == nullptr) continue;
            if (!first) out += ',';
            first = false;
            out += '"' + hex_key_id(id_of(q, k)) + "\":" + json_string(*name);
        }
        out += '}';
    }
    out += "}\n";
}

void append_json_error(std::string& out, std::optional<std::string_view> from,
                       std::optional<std::string_view> to, std::string_view error) {
    out += "{\"from\":";
    out += from ? json_string(*from) : "null";
    out += ",\"to\":";
    out += to ? json_string(*to) : "null";
    out += ",\"error\":" + json_string(error) + "}\n";
}

namespace {

// The keys, ranks and edges of an answer's digraph, each line behind
// indent, each node named prefix and the key's 16 digits.
void append_dot_body(std::string& out, const query_keys& q, const path_answer& answer,
                     const std::string& prefix, const char* indent) {
    auto node = [&](int32_t k) { return '"' + prefix + hex_key_id(id_of(q, k)) + '"'; };
    for (int32_t k : keys_shown(q, answer)) {
        out += indent + node(k) + " [label=\"" + printed_key_id(id_of(q, k));
        if (const std::string* name = name_of(q, k)) out += "\\n" + dot_escape(*name);
        out += "\"];\n";
    }
    // Every key of a shortest path has one place on all of them: one rank
    // per place.
    if (!answer.paths.empty()) {
        size_t places = answer.paths[0].size();
        for (size_t place = 0; place < places; ++place) {
            std::vector<int32_t> keys;
            for (const auto& path : answer.paths)
                keys.push_back(path[place]);
            std::sort(keys.begin(), keys.end());
            keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
            out += indent;
            out += "{ rank=same;";
            for (int32_t k : keys)
                out += ' ' + node(k) + ';';
            out += " }\n";
        }
    }
    std::vector<std::pair<int32_t, int32_t>> edges;
    for (const auto& path : answer.paths)
        for (size_t i = 0; i + 1 < path.size(); ++i)
            edges.emplace_back(path[i], path[i + 1]);
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    for (const auto& [u, w] : edges)
        out += indent + node(u) + " -> " + node(w) + ";\n";
}

const char* const DOT_DEFAULTS = "  rankdir=LR;\n  node [shape=box, fontname=\"monospace\"];\n";

std::string query_title(const query_keys& q) {
    return hex_key_id(id_of(q, q.from)) + " to " + hex_key_id(id_of(q, q.to));
}

} // namespace

void append_dot_answer(std::string& out, const query_keys& q, const path_answer& answer) {
    out += "digraph \"" + query_title(q) + "\" {\n";
    out += DOT_DEFAULTS;
    append_dot_body(out, q, answer, "", "  ");
    out += "}\n";
}

void append_dot_batch_start(std::string& out) {
    out += "digraph \"korvalinde-path\" {\n";
    out += DOT_DEFAULTS;
}

void append_dot_cluster(std::string& out, const query_keys& q, const path_answer& answer,
                        long number) {
    const std::string n = std::to_string(number);
    out += "  subgraph cluster_" + n + " {\n    label=\"" + query_title(q) + "\";\n";
    append_dot_body(out, q, answer, "q" + n + "_", "    ");
    out += "  }\n";
}

void append_dot_batch_end(std::string& out) {
    out += "}\n";
}
