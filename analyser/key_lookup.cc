#include "key_lookup.h"

namespace {

size_t hash_id(uint32_t id_high, uint32_t id_low) {
    // splitmix64 finaliser: spreads ids that differ in few bits.
    uint64_t x = (static_cast<uint64_t>(id_high) << 32) | id_low;
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return static_cast<size_t>(x);
}

// Slot holding the id, or the empty slot where it belongs.
size_t find_slot(const key_graph& g, const std::vector<int32_t>& slots, uint32_t id_high,
                 uint32_t id_low) {
    size_t mask = slots.size() - 1;
    size_t i = hash_id(id_high, id_low) & mask;
    for (;;) {
        int32_t k = slots[i];
        if (k < 0) return i;
        const key_record& r = g.key_table[static_cast<size_t>(k)];
        if (r.id_high == id_high && r.id_low == id_low) return i;
        i = (i + 1) & mask;
    }
}

void grow(const key_graph& g, key_lookup& lookup) {
    std::vector<int32_t> old = std::move(lookup.slots);
    lookup.slots.assign(old.empty() ? 1024 : old.size() * 2, -1);
    for (int32_t k : old) {
        if (k < 0) continue;
        const key_record& r = g.key_table[static_cast<size_t>(k)];
        lookup.slots[find_slot(g, lookup.slots, r.id_high, r.id_low)] = k;
    }
}

} // namespace

int32_t lookup_key(const key_graph& g, const key_lookup& lookup, uint32_t id_high,
                   uint32_t id_low) {
    if (lookup.slots.empty()) return -1;
    return lookup.slots[find_slot(g, lookup.slots, id_high, id_low)];
}

void remember_key(const key_graph& g, key_lookup& lookup, int32_t k) {
    // Keep the table at most half full so that probe runs stay short.
    if ((lookup.used + 1) * 2 > lookup.slots.size()) grow(g, lookup);
    const key_record& r = g.key_table[static_cast<size_t>(k)];
    size_t i = find_slot(g, lookup.slots, r.id_high, r.id_low);
    if (lookup.slots[i] < 0) {
        lookup.slots[i] = k;
        ++lookup.used;
    }
}
