// The generated signature graph, before it is written out.
#pragma once

#include "keygen_settings.h"

#include <cstdint>
#include <vector>

// Keys are numbered by construction index: first the strong-set core, then
// the tails below it, then the islands. The written list shuffles them.
struct signature_graph {
    std::uint32_t core_count = 0;
    std::uint32_t tail_count = 0;
    std::uint32_t island_count = 0;
    // Distinct 64-bit key ids (id_high in the upper half), by construction index.
    std::vector<std::uint64_t> key_ids;
    // Every signature once as (signed key << 32) | signer, sorted, so that the
    // signers of each key form one run.
    std::vector<std::uint64_t> signatures;
};

inline std::uint64_t pack_signature(std::uint32_t signer, std::uint32_t signed_key) {
    return (static_cast<std::uint64_t>(signed_key) << 32) | signer;
}
inline std::uint32_t signer_of(std::uint64_t s) {
    return static_cast<std::uint32_t>(s);
}
inline std::uint32_t signed_key_of(std::uint64_t s) {
    return static_cast<std::uint32_t>(s >> 32);
}

// The id of construction index i; also used past the last key for ids that
// must not belong to any key. Distinct for distinct i, since mix64 is a bijection.
std::uint64_t generated_key_id(std::uint64_t seed, std::uint64_t i);

signature_graph build_signature_graph(const keygen_settings& settings);
