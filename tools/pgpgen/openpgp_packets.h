// OpenPGP packets as bytes: packet framing, v4 public keys and their
// fingerprints, v4 signatures over keys, user ids and subkeys, ASCII armor.
#pragma once

#include "openpgp_sign.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

using bytes = std::vector<uint8_t>;

constexpr uint8_t TAG_SIGNATURE = 2;
constexpr uint8_t TAG_PUBLIC_KEY = 6;
constexpr uint8_t TAG_USER_ID = 13;
constexpr uint8_t TAG_PUBLIC_SUBKEY = 14;
constexpr uint8_t TAG_USER_ATTRIBUTE = 17;

// Appends a packet: the new format, or the old one (tags below 16 only,
// with the shortest length field that fits).
void append_packet(bytes& out, uint8_t tag, std::span<const uint8_t> body, bool new_format);

// The body of a v4 public-key packet.
bytes public_key_body(uint32_t created, uint8_t algorithm, std::span<const uint8_t> fields);

// SHA-1 fingerprint of a v4 public-key packet body; the key id is its last 8 bytes.
std::array<uint8_t, 20> key_fingerprint(std::span<const uint8_t> key_body);
uint64_t key_id_of(const std::array<uint8_t, 20>& fingerprint);

// What a signature covers, hashed in this order before its own fields.
struct signed_material {
    std::span<const uint8_t> key_body;    // primary key packet body
    std::span<const uint8_t> subkey_body; // for subkey bindings, else empty
    std::span<const uint8_t> user_id;     // user id packet body, else empty
    bool user_attribute = false;          // user_id holds a user attribute body
};

// The issuer of a signature and what it says about itself.
struct signature_spec {
    uint8_t sig_class = 0x10;
    uint8_t hash_algorithm = 8;
    uint32_t created = 0;
    uint32_t expires_after = 0;     // signature expiration (seconds), 0: none
    uint32_t key_expires_after = 0; // key expiration in a self-signature, 0: none
    uint8_t key_flags = 0;          // 0: no key flags subpacket
    bool primary_user_id = false;
    bool issuer_key_id = true; // the unhashed issuer key id subpacket
    std::array<uint8_t, 20> issuer_fingerprint{};
    // For tests of what readers refuse: subpackets added as they are after
    // the others in the hashed area, and a public-key algorithm named in
    // place of the signing key's (0: the key's).
    std::vector<uint8_t> extra_hashed;
    uint8_t named_algorithm = 0;
};

// The body of a v4 signature packet by key (whose algorithm it names) over
// material. forge flips one bit of the signature so that it cannot verify
// while looking well formed. Empty when signing failed.
bytes signature_body(const signing_key& key, const signature_spec& spec,
                     const signed_material& material, bool forge);

// A signature body for a key whose algorithm cannot sign here: fields of the
// right shape with random-looking values.
bytes unverifiable_signature_body(uint8_t algorithm, const signature_spec& spec,
                                  const signed_material& material);

// A signature body with the given algorithm-specific fields and the true
// first two bytes of its digest (what a forger without the key can make).
bytes signature_body_with_fields(uint8_t algorithm, const signature_spec& spec,
                                 const signed_material& material, std::span<const uint8_t> fields);
