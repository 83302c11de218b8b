// The OpenPGP numbers the key data reader works with, each defined once,
// grouped by the structure they belong to, with the section of RFC 4880 and
// of RFC 9580 that defines them.
#pragma once

#include <cstddef>
#include <cstdint>

// RFC 4880 4.2, RFC 9580 4.2: packet headers. The first octet (the cipher
// type byte) always has its top bit set; the next bit tells the new format
// (tag in the low six bits, RFC 4880 4.2.2) from the old one (tag in bits
// 5-2, length type in bits 1-0, RFC 4880 4.2.1).
constexpr unsigned CTB_ALWAYS_SET = 0x80;
constexpr unsigned CTB_NEW_FORMAT = 0x40;
constexpr unsigned CTB_NEW_TAG_MASK = 0x3F;
constexpr unsigned CTB_OLD_TAG_SHIFT = 2;
constexpr unsigned CTB_OLD_TAG_MASK = 0x0F;
constexpr unsigned CTB_OLD_LENGTH_TYPE_MASK = 0x03;
// Old-format length types: one, two or four length octets, or none.
constexpr unsigned OLD_LENGTH_ONE_OCTET = 0;
constexpr unsigned OLD_LENGTH_TWO_OCTETS = 1;
constexpr unsigned OLD_LENGTH_FOUR_OCTETS = 2;
constexpr unsigned OLD_LENGTH_INDETERMINATE = 3;

constexpr unsigned old_format_ctb(unsigned tag, unsigned length_type) {
    return CTB_ALWAYS_SET | tag << CTB_OLD_TAG_SHIFT | length_type;
}
constexpr unsigned new_format_ctb(unsigned tag) {
    return CTB_ALWAYS_SET | CTB_NEW_FORMAT | tag;
}

// RFC 4880 4.2.2, RFC 9580 4.2.1: new-format body lengths, by their first
// octet: 0-191 the length itself, 192-223 the first of two octets, 224-254 a
// partial body length of 2^(octet & 0x1F), 255 followed by four octets.
// Subpacket lengths (RFC 4880 5.2.3.1, RFC 9580 5.2.3.7) have no partial
// lengths: there 192-254 all start two octets.
constexpr unsigned LENGTH_TWO_OCTETS_FIRST = 192;
constexpr unsigned LENGTH_PARTIAL_FIRST = 224;
constexpr unsigned LENGTH_FIVE_OCTETS = 255;
constexpr unsigned LENGTH_PARTIAL_EXPONENT_MASK = 0x1F;
constexpr unsigned LENGTH_TWO_OCTETS_OFFSET = 192; // added to the two-octet value

// RFC 4880 4.3, RFC 9580 5: packet tags.
constexpr unsigned TAG_RESERVED = 0;
constexpr unsigned TAG_SIGNATURE = 2;
constexpr unsigned TAG_SECRET_KEY = 5;
constexpr unsigned TAG_PUBLIC_KEY = 6;
constexpr unsigned TAG_SECRET_SUBKEY = 7;
constexpr unsigned TAG_USER_ID = 13;
constexpr unsigned TAG_PUBLIC_SUBKEY = 14;
constexpr unsigned TAG_USER_ATTRIBUTE = 17;

// RFC 4880 5.5.2, RFC 9580 5.5.2: public-key packet versions. Version 2 is
// the same format as 3.
constexpr unsigned KEY_VERSION_2 = 2;
constexpr unsigned KEY_VERSION_3 = 3;
constexpr unsigned KEY_VERSION_4 = 4;
constexpr unsigned KEY_VERSION_5 = 5;
// A v4 key packet: version, creation time (4), algorithm; v3 adds a
// validity period (2) before the algorithm; v5 a four-octet length of the
// key material after it.
constexpr size_t KEY_V4_HEADER_SIZE = 6;
constexpr size_t KEY_V3_HEADER_SIZE = 8;
constexpr size_t KEY_V5_HEADER_SIZE = 10;
// The largest key packet body a v4 fingerprint covers (a two-octet length).
constexpr size_t KEY_BODY_MAX = 0xFFFF;

// RFC 4880 12.2, RFC 9580 5.5.4: the v4 fingerprint is SHA-1 over the key
// packet framed with an old-format header and a two-octet length; the key id
// is its low 64 bits.
constexpr size_t V4_FINGERPRINT_SIZE = 20;
constexpr size_t KEY_ID_SIZE = 8;

// RFC 4880 5.2.4, RFC 9580 5.2.4: what a signature's digest covers. A key
// packet is hashed after 0x99 and a two-octet length (its old-format header
// for lengths up to 65535); a user id after 0xB4 and a user attribute after
// 0xD1, each then with a four-octet length (v4 signatures); a v4 signature
// ends with the trailer 0x04 0xFF and the four-octet length of its hashed
// part.
constexpr uint8_t KEY_HASH_PREFIX = old_format_ctb(TAG_PUBLIC_KEY, OLD_LENGTH_TWO_OCTETS);
constexpr uint8_t USER_ID_HASH_PREFIX = old_format_ctb(TAG_USER_ID, OLD_LENGTH_ONE_OCTET);
constexpr uint8_t USER_ATTRIBUTE_HASH_PREFIX = new_format_ctb(TAG_USER_ATTRIBUTE);
constexpr uint8_t SIGNATURE_TRAILER_MARK = 0xFF;

// RFC 4880 5.2.2 and 5.2.3, RFC 9580 5.2.2 and 5.2.3: signature packet
// versions. Version 2 is the same format as 3, whose hashed material is
// always five octets (the class and the creation time).
constexpr unsigned SIG_VERSION_2 = 2;
constexpr unsigned SIG_VERSION_3 = 3;
constexpr unsigned SIG_VERSION_4 = 4;
constexpr unsigned SIG_V3_HASHED_SIZE = 5;

// RFC 4880 5.2.1, RFC 9580 5.2.1: signature types.
constexpr unsigned SIG_GENERIC_CERTIFICATION = 0x10;
constexpr unsigned SIG_POSITIVE_CERTIFICATION = 0x13; // the last of 0x10-0x13
constexpr unsigned SIG_SUBKEY_BINDING = 0x18;
constexpr unsigned SIG_PRIMARY_KEY_BINDING = 0x19;
constexpr unsigned SIG_DIRECT_KEY = 0x1F;
constexpr unsigned SIG_KEY_REVOCATION = 0x20;
constexpr unsigned SIG_SUBKEY_REVOCATION = 0x28;
constexpr unsigned SIG_CERTIFICATION_REVOCATION = 0x30;

// A certification of a user id and key: generic, persona, casual or positive.
constexpr bool is_certification(unsigned sig_class) {
    return sig_class >= SIG_GENERIC_CERTIFICATION && sig_class <= SIG_POSITIVE_CERTIFICATION;
}

// The signature types found in transferable public keys.
constexpr bool is_key_signature_type(unsigned sig_class) {
    return is_certification(sig_class) || sig_class == SIG_SUBKEY_BINDING ||
           sig_class == SIG_PRIMARY_KEY_BINDING || sig_class == SIG_DIRECT_KEY ||
           sig_class == SIG_KEY_REVOCATION || sig_class == SIG_SUBKEY_REVOCATION ||
           sig_class == SIG_CERTIFICATION_REVOCATION;
}

// RFC 4880 5.2.3.1, RFC 9580 5.2.3.7: signature subpacket types (the top
// bit of the type octet marks a critical subpacket).
constexpr unsigned SUBPACKET_CRITICAL = 0x80;
constexpr unsigned SUBPACKET_TYPE_MASK = 0x7F;
constexpr unsigned SUB_CREATED = 2;
constexpr unsigned SUB_SIG_EXPIRES = 3;
constexpr unsigned SUB_KEY_EXPIRES = 9;
constexpr unsigned SUB_ISSUER = 16;
constexpr unsigned SUB_PRIMARY_USER_ID = 25;
constexpr unsigned SUB_ISSUER_FPR = 33; // RFC 9580 5.2.3.35: key version, fingerprint

// RFC 4880 9.1, RFC 9580 9.1: public-key algorithm ids.
constexpr uint8_t PK_RSA = 1;
constexpr uint8_t PK_RSA_ENCRYPT_ONLY = 2;
constexpr uint8_t PK_RSA_SIGN_ONLY = 3;
constexpr uint8_t PK_ELGAMAL_ENCRYPT_ONLY = 16;
constexpr uint8_t PK_DSA = 17;
constexpr uint8_t PK_ECDH = 18;
constexpr uint8_t PK_ECDSA = 19;
constexpr uint8_t PK_ELGAMAL = 20; // formerly encrypt or sign
constexpr uint8_t PK_EDDSA = 22;
// RFC 9580 9.1 only: keys of fixed size, without MPI framing.
constexpr uint8_t PK_X25519 = 25;
constexpr uint8_t PK_X448 = 26;
constexpr uint8_t PK_ED25519 = 27;
constexpr uint8_t PK_ED448 = 28;

// RFC 4880 9.4, RFC 9580 9.5: hash algorithm ids.
constexpr uint8_t HASH_MD5 = 1;
constexpr uint8_t HASH_SHA1 = 2;
constexpr uint8_t HASH_RIPEMD160 = 3;
constexpr uint8_t HASH_SHA256 = 8;
constexpr uint8_t HASH_SHA384 = 9;
constexpr uint8_t HASH_SHA512 = 10;
constexpr uint8_t HASH_SHA224 = 11;
