#include "search_graph.h"

#include <algorithm>

namespace {

// The reachable keys and where each sits in the distance table.
struct reachable_keys {
    const std::vector<int32_t>& keys;  // table entry -> key index
    std::vector<int32_t> entry_of_key; // key index -> table entry, or -1
};

// parent[i]: the table entry of the one distinct signer of a non-member, or
// -1. Signers outside the reachable set cannot lie on any chain from a
// member, so they do not count.
std::vector<int32_t> single_signers(const key_graph& g, const set_results& s,
                                    const reachable_keys& r) {
    const auto count = static_cast<int32_t>(r.keys.size());
    std::vector<int32_t> parent(static_cast<size_t>(count), -1);
    for (int32_t i = 0; i < count; ++i) {
        int32_t k = r.keys[i];
        if (in_strong_set(s, k)) continue;
        int32_t only = -1;
        bool single = true;
        for (int32_t w : signed_by(g, k)) {
            if (w == k || !s.reachable[w]) continue;
            if (only < 0) {
                only = w;
            } else if (w != only) {
                single = false;
                break;
            }
        }
        if (single && only >= 0) parent[i] = r.entry_of_key[only];
    }
    return parent;
}

// The single-signer keys in an order in which each comes after its signer.
std::vector<int32_t> parents_first(const std::vector<int32_t>& parent) {
    const auto count = static_cast<int32_t>(parent.size());
    std::vector<int32_t> child_start(static_cast<size_t>(count) + 1, 0);
    for (int32_t i = 0; i < count; ++i)
        if (parent[i] >= 0) ++child_start[parent[i] + 1];
    for (int32_t i = 0; i < count; ++i)
        child_start[i + 1] += child_start[i];
    std::vector<int32_t> children(static_cast<size_t>(child_start[count]));
    std::vector<int32_t> fill(child_start.begin(), child_start.end() - 1);
    for (int32_t i = 0; i < count; ++i)
        if (parent[i] >= 0) children[fill[parent[i]]++] = i;
    std::vector<int32_t> order;
    order.reserve(children.size());
    for (int32_t i = 0; i < count; ++i)
        if (parent[i] < 0)
            order.insert(order.end(), children.begin() + child_start[i],
                         children.begin() + child_start[i + 1]);
    for (size_t head = 0; head < order.size(); ++head) {
        int32_t i = order[head];
        order.insert(order.end(), children.begin() + child_start[i],
                     children.begin() + child_start[i + 1]);
    }
    return order;
}

// A single-signer key may be left out of the search only if every key it
// signs is left out too; children come later in the order, so walking it
// backwards settles them first.
std::vector<uint8_t> left_out_keys(const key_graph& g, const set_results& s,
                                   const reachable_keys& r, const std::vector<int32_t>& order) {
    std::vector<uint8_t> left_out(r.keys.size(), 0);
    for (size_t j = order.size(); j-- > 0;) {
        int32_t i = order[j];
        int32_t k = r.keys[i];
        bool all_left_out = true;
        for (int32_t w : signs(g, k)) {
            if (w == k || !s.reachable[w]) continue;
            if (!left_out[r.entry_of_key[w]]) {
                all_left_out = false;
                break;
            }
        }
        left_out[i] = all_left_out;
    }
    return left_out;
}

// Numbers the searched keys, most keys signed first, and fills the
// signatures between them in both directions.
void build_adjacency(const key_graph& g, const set_results& s, const reachable_keys& r,
                     const std::vector<uint8_t>& left_out, std::vector<int32_t>& searched_of_entry,
                     search_graph& search) {
    const auto count = static_cast<int32_t>(r.keys.size());
    std::vector<int32_t> signed_count(static_cast<size_t>(count), 0);
    search.entry_of.clear();
    for (int32_t i = 0; i < count; ++i) {
        if (left_out[i]) continue;
        search.entry_of.push_back(i);
        int32_t k = r.keys[i];
        for (int32_t w : signs(g, k))
            if (w != k && s.reachable[w]) ++signed_count[i];
    }
    std::stable_sort(search.entry_of.begin(), search.entry_of.end(),
                     [&](int32_t a, int32_t b) { return signed_count[a] > signed_count[b]; });
    const auto searched_count = static_cast<int32_t>(search.entry_of.size());
    searched_of_entry.assign(static_cast<size_t>(count), -1);
    for (int32_t c = 0; c < searched_count; ++c)
        searched_of_entry[search.entry_of[c]] = c;

    search.signer_start.assign(static_cast<size_t>(searched_count) + 1, 0);
    search.signers.clear();
    for (int32_t c = 0; c < searched_count; ++c) {
        int32_t k = r.keys[search.entry_of[c]];
        auto first = static_cast<std::ptrdiff_t>(search.signers.size());
        for (int32_t w : signed_by(g, k)) {
            if (w == k || !s.reachable[w]) continue;
            // A left-out key signs only left-out keys, so every signer of a
            // searched key is searched.
            search.signers.push_back(searched_of_entry[r.entry_of_key[w]]);
        }
        std::sort(search.signers.begin() + first, search.signers.end());
        search.signers.erase(std::unique(search.signers.begin() + first, search.signers.end()),
                             search.signers.end());
        search.signer_start[c + 1] = static_cast<int64_t>(search.signers.size());
    }
    // The same signatures from the signer's side, each key's list ascending.
    search.signed_start.assign(static_cast<size_t>(searched_count) + 1, 0);
    for (int32_t w : search.signers)
        ++search.signed_start[w + 1];
    for (int32_t c = 0; c < searched_count; ++c)
        search.signed_start[c + 1] += search.signed_start[c];
    search.signed_keys.resize(search.signers.size());
    std::vector<int64_t> next_slot(search.signed_start.begin(), search.signed_start.end() - 1);
    for (int32_t c = 0; c < searched_count; ++c)
        for (int64_t i = search.signer_start[c]; i < search.signer_start[c + 1]; ++i)
            search.signed_keys[next_slot[search.signers[i]]++] = c;
}

// Lane order: members in breadth-first order over signatures in both
// directions, from the busiest member.
void order_members(const key_graph& g, const set_results& s, const reachable_keys& r,
                   const std::vector<uint8_t>& left_out,
                   const std::vector<int32_t>& searched_of_entry, search_graph& search) {
    const auto searched_count = static_cast<int32_t>(search.entry_of.size());
    search.members.clear();
    search.member_keys.clear();
    search.member_rank.assign(static_cast<size_t>(searched_count), -1);
    auto add_member = [&](int32_t k) {
        int32_t c = searched_of_entry[r.entry_of_key[k]];
        search.member_rank[c] = static_cast<int32_t>(search.members.size());
        search.members.push_back(c);
        search.member_keys.push_back(k);
    };
    for (int32_t c = 0; c < searched_count && search.members.empty(); ++c)
        if (in_strong_set(s, r.keys[search.entry_of[c]])) add_member(r.keys[search.entry_of[c]]);
    for (size_t head = 0; head < search.member_keys.size(); ++head) {
        int32_t k = search.member_keys[head];
        for (auto neighbours : {signed_by(g, k), signs(g, k)})
            for (int32_t w : neighbours)
                if (in_strong_set(s, w) &&
                    search.member_rank[searched_of_entry[r.entry_of_key[w]]] < 0)
                    add_member(w);
    }
    // Members are strongly connected, so the search found them all; any
    // left over (not expected) still get lanes.
    const auto count = static_cast<int32_t>(r.keys.size());
    for (int32_t i = 0; i < count; ++i)
        if (!left_out[i] && in_strong_set(s, r.keys[i]) &&
            search.member_rank[searched_of_entry[i]] < 0)
            add_member(r.keys[i]);
}

} // namespace

void partition_keys(const key_graph& g, const set_results& s,
                    const std::vector<int32_t>& table_keys, search_graph& search,
                    std::vector<inherited_key>& inherited) {
    reachable_keys r{table_keys, std::vector<int32_t>(static_cast<size_t>(g.key_count), -1)};
    for (size_t i = 0; i < table_keys.size(); ++i)
        r.entry_of_key[table_keys[i]] = static_cast<int32_t>(i);

    std::vector<int32_t> parent = single_signers(g, s, r);
    std::vector<int32_t> order = parents_first(parent);
    std::vector<uint8_t> left_out = left_out_keys(g, s, r, order);
    inherited.clear();
    for (int32_t i : order)
        if (left_out[i]) inherited.push_back({i, parent[i]});

    std::vector<int32_t> searched_of_entry;
    build_adjacency(g, s, r, left_out, searched_of_entry, search);
    order_members(g, s, r, left_out, searched_of_entry, search);
}
