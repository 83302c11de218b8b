#include "strong_sets.h"

#include "progress.h"

#include <vector>

namespace {

// One active visit of the set search: the key and the position of the next
// entry of its signed_by list to look at.
struct visit_frame {
    int32_t key;
    int64_t next;
};

struct set_search {
    const key_graph& g;
    set_results& s;
    FILE* othersets_file;
    int32_t visit_counter = 0;
    std::vector<int32_t> visit_number = {};
    std::vector<int32_t> low_link = {};
    std::vector<uint8_t> assigned = {};
    std::vector<int32_t> set_stack = {};
    std::vector<visit_frame> frames = {};
};

void start_visit(set_search& search, int32_t v) {
    ++search.visit_counter;
    search.visit_number[static_cast<size_t>(v)] = search.visit_counter;
    search.low_link[static_cast<size_t>(v)] = search.visit_counter;
    search.set_stack.push_back(v);
    progress_advance(1);
    search.frames.push_back({v, search.g.signed_by_start[static_cast<size_t>(v)]});
}

// v is the root of a finished set: pop it and everything above it.
void finish_set(set_search& search, int32_t v) {
    int32_t count = 0;
    int32_t w;
    do {
        w = search.set_stack.back();
        search.set_stack.pop_back();
        search.s.component_of[static_cast<size_t>(w)] = v;
        search.assigned[static_cast<size_t>(w)] = 1;
        ++count;
        const key_record& r = search.g.key_table[static_cast<size_t>(w)];
        if (search.othersets_file != nullptr)
            std::fprintf(search.othersets_file, "%08X %08X\n", r.id_high, r.id_low);
    } while (w != v);
    if (search.othersets_file != nullptr)
        std::fprintf(search.othersets_file, "*** %d keys in this strongly connected set\n\n",
                     count);
    if (count > search.s.strong_set_size) {
        search.s.strong_set_size = count;
        search.s.strong_set_root = v;
    }
}

// The search from one unvisited key, in the order a recursive visit_key would
// take: each frame resumes its signed_by list where the child visit left it.
void visit_key(set_search& search, int32_t root) {
    const key_graph& g = search.g;
    start_visit(search, root);
    while (!search.frames.empty()) {
        visit_frame& frame = search.frames.back();
        size_t v = static_cast<size_t>(frame.key);
        if (frame.next < g.signed_by_start[v + 1]) {
            int32_t w = g.signed_by_keys[static_cast<size_t>(frame.next++)];
            size_t wi = static_cast<size_t>(w);
            if (search.assigned[wi]) continue;
            if (search.visit_number[wi] == 0) {
                start_visit(search, w); // invalidates frame
                continue;
            }
            if (search.visit_number[wi] < search.low_link[v])
                search.low_link[v] = search.visit_number[wi];
            continue;
        }
        // All of v's list is done.
        int32_t finished = frame.key;
        search.frames.pop_back();
        if (search.low_link[v] == search.visit_number[v]) finish_set(search, finished);
        if (!search.frames.empty()) {
            size_t parent = static_cast<size_t>(search.frames.back().key);
            if (search.low_link[v] < search.low_link[parent])
                search.low_link[parent] = search.low_link[v];
        }
    }
}

// Marks v and every unmarked key reachable from it over signs lists; returns
// how many keys were marked.
int32_t count_reachable(const key_graph& g, std::vector<uint8_t>& reachable, int32_t v) {
    std::vector<int32_t> pending{v};
    reachable[static_cast<size_t>(v)] = 1;
    int32_t n = 1;
    while (!pending.empty()) {
        int32_t k = pending.back();
        pending.pop_back();
        for (int32_t w : signs(g, k)) {
            if (!reachable[static_cast<size_t>(w)]) {
                reachable[static_cast<size_t>(w)] = 1;
                ++n;
                pending.push_back(w);
            }
        }
    }
    return n;
}

} // namespace

void find_sets(const key_graph& g, FILE* othersets_file, FILE* status_file, set_results& s) {
    size_t n = static_cast<size_t>(g.key_count);
    s = set_results{};
    s.component_of.assign(n, 0);
    s.reachable.assign(n, 0);
    {
        progress_phase progress("sets", g.key_count);
        set_search search{g, s, othersets_file};
        search.visit_number.assign(n, 0);
        search.low_link.assign(n, 0);
        search.assigned.assign(n, 0);
        for (int32_t i = 0; i < g.key_count; ++i)
            if (search.visit_number[static_cast<size_t>(i)] == 0) visit_key(search, i);
    }
    // Without keys there is no strong set and nothing is reachable.
    s.reachable_size = g.key_count == 0 ? 0 : count_reachable(g, s.reachable, s.strong_set_root);
    if (status_file == nullptr) return;
    std::fprintf(status_file, "reachable set is size %d\n", s.reachable_size);
    std::fprintf(status_file, "strongly connected set is size %d\n", s.strong_set_size);
}
