// The key list import: any bytes give a graph whose two adjacency directions
// are well formed and agree, the same graph and status lines from memory as
// from a stream of the same bytes, and the same as a plain importer written
// here that walks the 18-byte blocks the slow obvious way.
#include "fuzz_check.h"
#include "key_import.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

// Everything an import gives.
struct imported {
    int status = -1;
    std::string status_text;
    key_graph g;
};

// Runs an import with its status lines written into a string.
template <typename Import> imported capture(Import&& import) {
    imported r;
    char* text = nullptr;
    size_t text_size = 0;
    FILE* status_file = open_memstream(&text, &text_size);
    FUZZ_CHECK(status_file != nullptr);
    r.status = import(status_file, r.g);
    FUZZ_CHECK(std::fclose(status_file) == 0);
    r.status_text.assign(text, text_size);
    std::free(text);
    return r;
}

// One id half as strtol reads each group of four characters.
uint32_t plain_id_half(const char* chars) {
    auto group = [](const char* p) {
        std::string text(p, 4);
        return std::strtol(text.c_str(), nullptr, 16);
    };
    return static_cast<uint32_t>(static_cast<unsigned long>(group(chars)) * 65536UL +
                                 static_cast<unsigned long>(group(chars + 4)));
}

uint64_t plain_id(const char* chars) {
    return (static_cast<uint64_t>(plain_id_half(chars)) << 32) | plain_id_half(chars + 8);
}

// An id is read when strtol finds a digit in each of its groups of four.
bool plain_id_read(const char* chars) {
    for (size_t g = 0; g < 4; ++g) {
        std::string text(chars + 4 * g, 4);
        char* end = nullptr;
        (void)std::strtol(text.c_str(), &end, 16); // only where it stops
        if (end == text.c_str()) return false;
    }
    return true;
}

struct plain_graph {
    std::vector<uint64_t> ids;
    std::vector<std::vector<int32_t>> signed_by, signs;
    int64_t sig_count = 0;
    std::string status_text;
};

plain_graph import_plainly(const std::string& list) {
    plain_graph p;
    std::map<uint64_t, int32_t> first_index; // an id stands for its first key
    size_t blocks = list.size() / RECORD_SIZE;
    auto block = [&](size_t b) { return list.data() + b * RECORD_SIZE; };
    for (size_t b = 0; b < blocks; ++b) {
        if (block(b)[RECORD_LINE_END_AT] != '\n' || block(b)[RECORD_TYPE_AT] != RECORD_KEY ||
            !plain_id_read(block(b) + RECORD_ID_AT))
            continue;
        uint64_t id = plain_id(block(b) + RECORD_ID_AT);
        first_index.emplace(id, static_cast<int32_t>(p.ids.size()));
        p.ids.push_back(id);
    }
    p.signed_by.resize(p.ids.size());
    p.signs.resize(p.ids.size());
    char line[64];
    p.status_text = "Importing pass 1 (keys)...\ndone.\n";
    std::snprintf(line, sizeof line, "%zu keys imported\n", p.ids.size());
    p.status_text += line;
    p.status_text += "Importing pass 2 (sigs)...\n";
    int32_t current = -1;
    for (size_t b = 0; b < blocks; ++b) {
        if (block(b)[RECORD_LINE_END_AT] != '\n') continue;
        const bool read = plain_id_read(block(b) + RECORD_ID_AT);
        if (block(b)[RECORD_TYPE_AT] == RECORD_KEY) {
            current = read ? first_index.at(plain_id(block(b) + RECORD_ID_AT)) : -1;
        } else if (block(b)[RECORD_TYPE_AT] == RECORD_SIGNATURE) {
            auto signer = first_index.find(plain_id(block(b) + RECORD_ID_AT));
            if (read && signer != first_index.end() && current != -1) {
                p.signed_by[static_cast<size_t>(current)].push_back(signer->second);
                p.signs[static_cast<size_t>(signer->second)].push_back(current);
                ++p.sig_count;
            }
            if (p.sig_count % 1000 == 0) {
                std::snprintf(line, sizeof line, "%" PRId64 " sigs imported...\n", p.sig_count);
                p.status_text += line;
            }
        }
    }
    std::snprintf(line, sizeof line, "done.\n%" PRId64 " sigs imported\n", p.sig_count);
    p.status_text += line;
    return p;
}

// One adjacency direction: offsets from 0, never falling, ending at the
// number of entries, every entry a key index.
void check_adjacency(const key_graph& g, const std::vector<int64_t>& start,
                     const std::vector<int32_t>& keys) {
    FUZZ_CHECK(start.size() == static_cast<size_t>(g.key_count) + 1);
    FUZZ_CHECK(start.front() == 0);
    for (size_t k = 1; k < start.size(); ++k)
        FUZZ_CHECK(start[k - 1] <= start[k]);
    FUZZ_CHECK(start.back() == static_cast<int64_t>(keys.size()));
    FUZZ_CHECK(static_cast<int64_t>(keys.size()) == g.sig_count);
    for (int32_t k : keys)
        FUZZ_CHECK(k >= 0 && k < g.key_count);
}

void check_graph(const key_graph& g) {
    FUZZ_CHECK(g.key_count >= 0 && g.key_table.size() == static_cast<size_t>(g.key_count));
    check_adjacency(g, g.signed_by_start, g.signed_by_keys);
    check_adjacency(g, g.signs_start, g.signs_keys);
    // Every edge appears once in each direction: count (signer, signed key)
    // pairs up from one side and down from the other.
    std::map<std::pair<int32_t, int32_t>, int64_t> edges;
    for (int32_t k = 0; k < g.key_count; ++k)
        for (int32_t signer : signed_by(g, k))
            ++edges[{signer, k}];
    for (int32_t k = 0; k < g.key_count; ++k)
        for (int32_t signed_key : signs(g, k))
            FUZZ_CHECK(--edges[{k, signed_key}] >= 0);
    for (const auto& [edge, count] : edges)
        FUZZ_CHECK(count == 0);
}

bool same_graph(const key_graph& a, const key_graph& b) {
    if (a.key_count != b.key_count || a.sig_count != b.sig_count) return false;
    for (int32_t k = 0; k < a.key_count; ++k)
        if (a.key_table[k].id_high != b.key_table[k].id_high ||
            a.key_table[k].id_low != b.key_table[k].id_low)
            return false;
    return a.signed_by_start == b.signed_by_start && a.signed_by_keys == b.signed_by_keys &&
           a.signs_start == b.signs_start && a.signs_keys == b.signs_keys;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string list(reinterpret_cast<const char*>(bytes), size);

    imported from_memory = capture([&](FILE* status_file, key_graph& g) {
        return import_keys_from_memory(list.data(), list.size(), "fuzz.keys", status_file, g);
    });
    FUZZ_CHECK(from_memory.status == 0);
    check_graph(from_memory.g);

    // The stream import over the same bytes (fmemopen needs at least one).
    if (size > 0) {
        imported from_stream = capture([&](FILE* status_file, key_graph& g) {
            FILE* input = fmemopen(const_cast<char*>(list.data()), list.size(), "r");
            FUZZ_CHECK(input != nullptr);
            int status = import_keys(input, "fuzz.keys", status_file, g);
            FUZZ_CHECK(std::fclose(input) == 0);
            return status;
        });
        FUZZ_CHECK(from_stream.status == 0);
        FUZZ_CHECK(from_stream.status_text == from_memory.status_text);
        FUZZ_CHECK(same_graph(from_stream.g, from_memory.g));
    }

    const key_graph& g = from_memory.g;
    plain_graph p = import_plainly(list);
    FUZZ_CHECK(from_memory.status_text == p.status_text);
    FUZZ_CHECK(static_cast<size_t>(g.key_count) == p.ids.size());
    FUZZ_CHECK(g.sig_count == p.sig_count);
    for (int32_t k = 0; k < g.key_count; ++k) {
        const key_record& r = g.key_table[static_cast<size_t>(k)];
        FUZZ_CHECK(((static_cast<uint64_t>(r.id_high) << 32) | r.id_low) ==
                   p.ids[static_cast<size_t>(k)]);
        auto by = signed_by(g, k);
        auto to = signs(g, k);
        FUZZ_CHECK(std::vector<int32_t>(by.begin(), by.end()) ==
                   p.signed_by[static_cast<size_t>(k)]);
        FUZZ_CHECK(std::vector<int32_t>(to.begin(), to.end()) == p.signs[static_cast<size_t>(k)]);
    }
    return 0;
}
