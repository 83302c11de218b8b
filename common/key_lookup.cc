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

// Slot holding the id, or the empty slot where it belongs.
size_t find_slot(const std::vector<key_slot>& slots, uint64_t id) {
    size_t mask = slots.size() - 1;
    size_t i = hash_id(id) & mask;
    while (slots[i].key >= 0 && slots[i].id != id)
        i = (i + 1) & mask;
    return i;
}

void grow(key_lookup& lookup) {
    std::vector<key_slot> old = std::move(lookup.slots);
    lookup.slots.assign(old.empty() ? 1024 : old.size() * 2, key_slot{});
    for (const key_slot& slot : old)
        if (slot.key >= 0) lookup.slots[find_slot(lookup.slots, slot.id)] = slot;
}

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
    key_slot& slot = lookup.slots[find_slot(lookup.slots, id)];
    if (slot.key < 0) {
        slot = {id, k};
        ++lookup.used;
    }
}
