// Lookup of a key index by key id: an open-addressing hash table that maps
// each id to the lowest key index that carries it.
#pragma once

#include "key_graph.h"

#include <cstdint>
#include <vector>

struct key_lookup {
    std::vector<int32_t> slots; // key index, or -1 for an empty slot
    size_t used = 0;
};

// The lowest key index with this id, or -1.
int32_t lookup_key(const key_graph& g, const key_lookup& lookup, uint32_t id_high, uint32_t id_low);

// Records key index k under its id unless the id is already present (the
// lower index then keeps it).
void remember_key(const key_graph& g, key_lookup& lookup, int32_t k);
