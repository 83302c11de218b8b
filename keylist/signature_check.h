// Checks OpenPGP signatures with OpenSSL's libcrypto: the digest of what a
// signature covers, a signer's public key decoded once from its key packet,
// and the verification of the signature's algorithm-specific fields.
//
// Thread safety: distinct digest_contexts may be used at the same time on
// different threads, and one const verify_key may be shared by any number of
// threads (every check makes its own verification context).
#pragma once

#include "openpgp_constants.h" // the hash and public-key algorithm ids

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

struct evp_md_ctx_st;
struct evp_pkey_st;

// Whether hash_algorithm is one signatures may use (SHA-1, RIPEMD-160, SHA-2).
bool hash_supported(uint8_t hash_algorithm);

// A digest as bytes; size is the hash's output length (at most 64).
struct digest_value {
    std::array<uint8_t, 64> bytes{};
    size_t length = 0;

    const uint8_t* data() const { return bytes.data(); }
    size_t size() const { return length; }
    const uint8_t* begin() const { return bytes.data(); }
    const uint8_t* end() const { return bytes.data() + length; }
    uint8_t operator[](size_t i) const { return bytes[i]; }
};

// The running digest of what a signature covers. Reusable: digest_begin
// starts over.
struct digest_context {
    evp_md_ctx_st* ctx = nullptr;

    digest_context();
    ~digest_context();
    digest_context(const digest_context&) = delete;
    digest_context& operator=(const digest_context&) = delete;
};

// Starts a digest in the OpenPGP hash algorithm. False when the algorithm is
// not one signatures may use (MD5 and unknown ids included).
bool digest_begin(digest_context& context, uint8_t openpgp_hash_algorithm);
void digest_update(digest_context& context, std::span<const uint8_t> bytes);
digest_value digest_final(digest_context& context);

// A signer's public key, ready to verify with.
struct verify_key {
    evp_pkey_st* pkey = nullptr;
    uint8_t algorithm = 0; // OpenPGP public-key algorithm id
    uint16_t rsa_modulus_bytes = 0;
    uint16_t order_bits = 0; // DSA: of q; ECDSA: of the curve's order

    verify_key() = default;
    ~verify_key();
    verify_key(verify_key&& other) noexcept;
    verify_key& operator=(verify_key&& other) noexcept;
    verify_key(const verify_key&) = delete;
    verify_key& operator=(const verify_key&) = delete;
};

enum class check_result {
    valid,
    bad_signature,
    unsupported_algorithm,
    unsupported_curve,
    unsupported_hash,
    malformed,
    key_size_refused, // a key larger than gpg and OpenSSL verify with
    hash_too_short,   // DSA or ECDSA over a digest shorter than the key's order
};

// The largest keys verified with, as gpg and OpenSSL accept them: anything
// larger costs far more to verify and no real signer holds one. DSA's q must
// be one of 160, 224 and 256 bits.
constexpr size_t RSA_MODULUS_BITS_MAX = 16384;
constexpr size_t RSA_EXPONENT_BITS_MAX = 64; // OpenSSL's limit for large moduli
constexpr size_t DSA_P_BITS_MAX = 3072;

// A short lower-case name for a result, for summaries.
const char* check_result_name(check_result result);

// Decodes the algorithm-specific fields of a v4 or v3 public-key packet
// (everything after the version, creation time, v3 validity days and the
// algorithm byte) into out. Anything other than valid leaves out empty;
// keys beyond the limits above are key_size_refused.
check_result load_verify_key(uint8_t public_key_algorithm, std::span<const uint8_t> key_fields,
                             verify_key& out);

// Verifies a signature's algorithm-specific fields (the MPIs after the two
// bytes of the digest's left 16 bits) over digest, which was computed with
// openpgp_hash_algorithm. A DSA or ECDSA digest shorter than the key's order
// (up to 512 bits) is hash_too_short, as gpg refuses it.
check_result check_signature(const verify_key& key, uint8_t openpgp_hash_algorithm,
                             std::span<const uint8_t> digest,
                             std::span<const uint8_t> signature_fields);

// A signature's fields in the form OpenSSL verifies: Ed25519's 64 bytes,
// RSA's integer as long as the modulus, DSA's and ECDSA's DER sequence.
struct native_signature {
    std::array<uint8_t, 2048> bytes; // RSA_MODULUS_BITS_MAX / 8
    size_t size = 0;
};

// The two steps of check_signature after its checks of the digest: the
// fields in native form (malformed or bad_signature when they cannot be),
// and OpenSSL's verification of that form.
check_result native_form(const verify_key& key, std::span<const uint8_t> signature_fields,
                         native_signature& out);
check_result verify_native(const verify_key& key, uint8_t openpgp_hash_algorithm,
                           std::span<const uint8_t> digest, std::span<const uint8_t> native);
