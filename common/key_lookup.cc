#include "key_lookup.h"

namespace {

uint64_t id_of(uint32_t id_high, uint32_t id_low) {
    return (static_cast<uint64_t>(id_high) << 32) | id_low;
}

size_t hash_id(uint64_t x) {
    // splitmix64 finaliser: spreads ids that differ in few bits.
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return static_cast<size_t>(x);
}

// Slot holding the id, or the empty slot where it belongs, starting at slot i.
size_t probe_from(const std::vector<key_slot>& slots, size_t i, uint64_t id) {
    const size_t mask = slots.size() - 1;
    while (slots[i].key >= 0 && slots[i].id != id)
        i = (i + 1) & mask;
    return i;
}

size_t find_slot(const std::vector<key_slot>& slots, uint64_t id) {
    return probe_from(slots, hash_id(id) & (slots.size() - 1), id);
}

void grow(key_lookup& lookup) {
    std::vector<key_slot> old = std::move(lookup.slots);
    lookup.slots.assign(old.empty() ? 1024 : old.size() * 2, key_slot{});
    for (const key_slot& slot : old)
        if (slot.key >= 0) lookup.slots[find_slot(lookup.slots, slot.id)] = slot;
}

void insert(key_lookup& lookup, size_t home, uint64_t id, int32_t k) {
    key_slot& slot = lookup.slots[probe_from(lookup.slots, home, id)];
    if (slot.key < 0) {
        slot = {id, k};
        ++lookup.used;
    }
}

// How many probes run ahead of the one being compared: enough to keep
// several cache misses in flight.
constexpr size_t AHEAD = 16;

} // namespace

int32_t lookup_key(const key_lookup& lookup, uint32_t id_high, uint32_t id_low) {
    if (lookup.slots.empty()) return -1;
    return lookup.slots[find_slot(lookup.slots, id_of(id_high, id_low))].key;
}

void remember_key(const key_graph& g, key_lookup& lookup, int32_t k) {
    // Keep the table at most half full so that probe runs stay short.
    if ((lookup.used + 1) * 2 > lookup.slots.size()) grow(lookup);
    const key_record& r = g.key_table[static_cast<size_t>(k)];
    uint64_t id = id_of(r.id_high, r.id_low);
    insert(lookup, hash_id(id) & (lookup.slots.size() - 1), id, k);
}

void build_lookup(const key_graph& g, key_lookup& lookup) {
    // At most half full, as remember_key keeps it.
    size_t size = 1024;
    while (size < 2 * static_cast<size_t>(g.key_count))
        size *= 2;
    lookup.slots.assign(size, key_slot{});
    lookup.used = 0;
    const size_t mask = size - 1;
    const size_t n = static_cast<size_t>(g.key_count);
    auto id_at = [&g](size_t k) { return id_of(g.key_table[k].id_high, g.key_table[k].id_low); };
    // Keys are inserted in index order, so the first key of an id keeps it.
    for (size_t k = 0; k < n; ++k) {
        if (k + AHEAD < n) __builtin_prefetch(&lookup.slots[hash_id(id_at(k + AHEAD)) & mask], 1);
        uint64_t id = id_at(k);
        insert(lookup, hash_id(id) & mask, id, static_cast<int32_t>(k));
    }
}

void lookup_keys(const key_lookup& lookup, const uint64_t* ids, size_t n, int32_t* keys) {
    if (lookup.slots.empty()) {
        for (size_t i = 0; i < n; ++i)
            keys[i] = -1;
        return;
    }
    const size_t mask = lookup.slots.size() - 1;
    // The home slots are computed once, AHEAD ids before they are probed.
    size_t home[AHEAD];
    for (size_t i = 0; i < n && i < AHEAD; ++i) {
        home[i] = hash_id(ids[i]) & mask;
        __builtin_prefetch(&lookup.slots[home[i]]);
    }
    for (size_t i = 0; i < n; ++i) {
        size_t slot = home[i % AHEAD];
        if (i + AHEAD < n) {
            size_t next = hash_id(ids[i + AHEAD]) & mask;
            home[i % AHEAD] = next;
            __builtin_prefetch(&lookup.slots[next]);
        }
        keys[i] = lookup.slots[probe_from(lookup.slots, slot, ids[i])].key;
    }
}
