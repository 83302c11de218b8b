// Builds an OpenPGP dump from a signature graph: the keys with their user
// ids, self-signatures, certifications and noise, in parallel and in a fixed
// order, and what korvalinde-keylist should make of them.
#pragma once

#include "openpgp_packets.h"
#include "pgpgen_settings.h"

#include <cstdint>
#include <string>
#include <vector>

// One signature as the manifest lists it.
enum class sig_meaning : uint8_t { valid, forged, outsider, md5, unknown_algorithm };

struct manifest_entry {
    uint64_t signed_key;
    uint64_t signer;
    uint32_t created;
    uint8_t sig_class;
    sig_meaning meaning;
};

// A key's output: its packets, a later part (for a key split across two
// places), and the signers korvalinde-keylist should count for it. The key's
// record goes where its first block that brings a counted certification is:
// with the later part when the packets bring none.
struct key_output {
    bytes packets;
    bytes later_part;
    std::vector<uint64_t> counted_signers; // sorted, distinct
    bool record_with_later_part = false;
    std::vector<manifest_entry> manifest;
};

// Everything the keys of a dump share once made: public keys, ids, names.
struct dump_keys;

// Makes the graph and every key. False with error set when the key pool is
// needed and cannot be read.
bool make_dump_keys(const pgpgen_settings& settings, dump_keys*& out, std::string& error);
void free_dump_keys(dump_keys* keys);
uint64_t dump_key_count(const dump_keys& keys);
uint64_t dump_key_id(const dump_keys& keys, uint64_t position);
// The escaped primary user id, as the names file holds it.
std::string dump_key_name(const dump_keys& keys, uint64_t id);

// The output for the key at position (order of the dump).
key_output build_key(const pgpgen_settings& settings, const dump_keys& keys, uint64_t position);

// Writes a fresh key pool (PEM private keys) for the RSA, DSA and ECDSA shares.
bool write_key_pool(const std::string& path, std::string& error);
