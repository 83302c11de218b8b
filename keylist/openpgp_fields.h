// The fields of the OpenPGP packets a key list is made from: public-key
// packets (v4; v3 and v5 are recognised and refused) and signature packets
// (v3 and v4). Every length, count and size is checked against the packet.
#pragma once

#include "key_block.h"
#include "openpgp_constants.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

using fingerprint = std::array<uint8_t, V4_FINGERPRINT_SIZE>;

// RFC 4880 5.5.2, RFC 9580 5.5.2: a public-key packet.
struct public_key_packet {
    unsigned version = 0;
    int64_t created = 0;
    unsigned algorithm = 0;
    std::span<const uint8_t> material; // the algorithm-specific fields
    fingerprint fpr{};                 // v4: SHA-1 over the framed packet
    uint64_t key_id = 0;               // the low 64 bits of the fingerprint
};

// Reads a primary key packet. Returns nullptr, or what makes it unusable.
const char* parse_public_key(std::span<const uint8_t> body, public_key_packet& key);

// RFC 4880 5.2, RFC 9580 5.2: a signature packet.
struct signature_packet {
    unsigned version = 0;
    unsigned sig_class = 0;
    unsigned pub_algorithm = 0;
    unsigned hash_algorithm = 0;
    int64_t created = NO_TIME;
    int64_t expires = NO_TIME;      // absolute; NO_TIME: never
    int64_t key_lifetime = NO_TIME; // key expiration subpacket, seconds after creation
    bool primary_user_id = false;
    bool unknown_critical = false; // a critical subpacket not understood
    uint64_t issuer = 0;           // 0 when no issuer is named
    bool has_issuer_fpr = false;   // issuer fingerprint subpacket (v4 key)
    fingerprint issuer_fpr{};
    std::span<const uint8_t> hashed; // what the digest covers after the key and user id
    std::array<uint8_t, 2> left16{}; // the digest's first two bytes
    std::span<const uint8_t> fields; // the algorithm-specific fields (MPIs)
};

// Reads a signature packet. Returns nullptr, or what makes it unusable.
const char* parse_signature(std::span<const uint8_t> body, signature_packet& sig);

// RFC 4880 5.2.4, RFC 9580 5.2.4: the bytes hashed after sig.hashed: the v4
// trailer (0x04 0xFF and the length of sig.hashed); v3 has none. Returns the number of bytes in
// out.
size_t signature_trailer(const signature_packet& sig, std::array<uint8_t, 6>& out);

// The prefix hashed before a key packet body (0x99 and a two-byte length).
std::array<uint8_t, 3> key_prefix(size_t body_size);

// The prefix hashed before a user id (0xB4) or user attribute (0xD1) in a v4
// certification: the tag byte and a four-byte length.
std::array<uint8_t, 5> user_id_prefix(unsigned tag, size_t size);
