// Lookup of a key index by key id: an open-addressing hash table that maps
// each id to the lowest key index that carries it.
#pragma once

#include "key_graph.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// One slot holds an id with its key index, so that a probe needs no look
// into the key table.
struct key_slot {
    uint64_t id = 0;
    int32_t key = -1; // -1: the slot is empty
};

struct key_lookup {
    std::vector<key_slot> slots;
    size_t used = 0;
};

// The lowest key index with this id, or -1.
int32_t lookup_key(const key_lookup& lookup, uint32_t id_high, uint32_t id_low);

// Records key index k under its id unless the id is already present (the
// lower index then keeps it).
void remember_key(const key_graph& g, key_lookup& lookup, int32_t k);

// Builds the lookup of all keys of g at once, sized for them: the same
// lookup as remember_key for every key in index order, without regrowing.
void build_lookup(const key_graph& g, key_lookup& lookup);

// keys[i] = the lowest key index with ids[i] (high half first), or -1, for
// i < n. The same answers as lookup_key one at a time; the slots of later
// ids are fetched while earlier ones are compared, which makes a large
// table several times faster to probe.
void lookup_keys(const key_lookup& lookup, const uint64_t* ids, size_t n, int32_t* keys);
