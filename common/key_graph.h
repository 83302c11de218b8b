// The signature graph of a key list, as the import builds it: the key table
// and the signatures in both directions. The korvalinde programs read it;
// nothing changes it after the import.
//
// Keys are numbered by key index: the position of their "p" record in the key
// list, from 0. An edge runs from a signer to the key it signed. Both
// directions are kept in compressed adjacency form (one offsets array with
// key_count + 1 entries and one array of key indexes), each key's entries in
// the order of the "s" records, duplicates and self-signatures included.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

struct key_record {
    uint32_t id_high = 0;
    uint32_t id_low = 0;
};

struct key_graph {
    std::vector<key_record> key_table;
    int32_t key_count = 0;
    int64_t sig_count = 0;
    std::vector<int64_t> signed_by_start; // key_count + 1 offsets into signed_by_keys
    std::vector<int32_t> signed_by_keys;  // signers of each key
    std::vector<int64_t> signs_start;     // key_count + 1 offsets into signs_keys
    std::vector<int32_t> signs_keys;      // keys signed by each key
};

// The keys that signed key k (incoming edges), in record order.
inline std::span<const int32_t> signed_by(const key_graph& g, int32_t k) {
    return {g.signed_by_keys.data() + g.signed_by_start[k],
            g.signed_by_keys.data() + g.signed_by_start[k + 1]};
}

// The keys that key k signed (outgoing edges), in record order.
inline std::span<const int32_t> signs(const key_graph& g, int32_t k) {
    return {g.signs_keys.data() + g.signs_start[k], g.signs_keys.data() + g.signs_start[k + 1]};
}
