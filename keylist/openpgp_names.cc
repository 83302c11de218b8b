#include "openpgp_names.h"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// What the key's own signatures say about one of its user ids, over all of
// the key's blocks.
struct user_id_state {
    uint64_t event;              // where the user id was first read
    int64_t certified = NO_TIME; // latest valid self-certification
    int64_t revoked = NO_TIME;   // latest valid self-revocation
    bool primary = false;        // the flag of the latest self-certification
};

std::string_view user_id_text(const openpgp_collection& c, const sig_event& e) {
    return {reinterpret_cast<const char*>(arena_at(c.arena, e.blob)), e.signer};
}

using user_id_index = std::unordered_map<std::string_view, size_t>;

// Adds one block's user ids and their valid self-signatures to states; the
// same user id in another block of the key shares its state.
void scan_block(const openpgp_collection& c, const key_appearance& a,
                std::vector<user_id_state>& states, user_id_index& index) {
    size_t current = SIZE_MAX;
    for (uint64_t i = a.first_event; i < a.end_event; ++i) {
        const sig_event& e = c.events[i];
        if (e.kind == event_kind::user_id || e.kind == event_kind::subkey) {
            // User attributes and subkeys are no name: their signatures
            // must not be taken for the preceding user id's.
            current = SIZE_MAX;
            if (e.kind != event_kind::user_id || e.blob == byte_arena::NONE) continue;
            const auto [at, added] = index.try_emplace(user_id_text(c, e), states.size());
            if (added) states.push_back({i});
            current = at->second;
            continue;
        }
        if (current == SIZE_MAX || e.signer != a.id || e.result != verdict::valid) continue;
        user_id_state& s = states[current];
        if (e.kind == event_kind::certification && e.created >= s.certified) {
            s.certified = e.created;
            s.primary = (e.flags & EVENT_PRIMARY_USER_ID) != 0;
        } else if (e.kind == event_kind::revocation) {
            s.revoked = std::max(s.revoked, e.created);
        }
    }
}

// Whether candidate a goes before b: flagged primary, then the latest
// self-certification, then (as gpg breaks the tie) the longer user id, then
// the greater bytes. The order read plays no part.
bool preferred(const openpgp_collection& c, const user_id_state& a, const user_id_state& b) {
    if (a.primary != b.primary) return a.primary;
    if (a.certified != b.certified) return a.certified > b.certified;
    const std::string_view ta = user_id_text(c, c.events[a.event]);
    const std::string_view tb = user_id_text(c, c.events[b.event]);
    if (ta.size() != tb.size()) return ta.size() > tb.size();
    return ta > tb;
}

// The chosen user id's event, or byte_arena::NONE.
uint64_t choose(const openpgp_collection& c, const std::vector<user_id_state>& states) {
    const user_id_state* best = nullptr;
    for (const user_id_state& s : states) {
        if (s.certified == NO_TIME || (s.revoked != NO_TIME && s.revoked >= s.certified)) continue;
        if (best == nullptr || preferred(c, s, *best)) best = &s;
    }
    return best == nullptr ? byte_arena::NONE : best->event;
}

} // namespace

void choose_user_ids(openpgp_collection& c) {
    // The blocks of each key together, in the order read.
    std::vector<uint32_t> key_of(c.blocks.size());
    for (size_t b = 0; b < c.blocks.size(); ++b)
        key_of[b] = find_position(c.key_positions, c.blocks[b].id);
    std::vector<uint32_t> order(c.blocks.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&key_of](uint32_t a, uint32_t b) { return key_of[a] < key_of[b]; });
    std::vector<user_id_state> states;
    user_id_index index;
    for (size_t i = 0; i < order.size();) {
        const uint32_t key = key_of[order[i]];
        states.clear();
        index.clear();
        for (; i < order.size() && key_of[order[i]] == key; ++i)
            scan_block(c, c.blocks[order[i]], states, index);
        c.keys[key].name_event = choose(c, states);
    }
}

bool primary_user_id(const openpgp_collection& c, uint64_t id, std::string& out) {
    const uint32_t position = find_position(c.key_positions, id);
    if (position == key_index::EMPTY) return false;
    const uint64_t event = c.keys[position].name_event;
    if (event == byte_arena::NONE) return false;
    out.assign(user_id_text(c, c.events[event]));
    return true;
}
