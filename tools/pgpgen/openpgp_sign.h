// Key pairs and signatures for generated OpenPGP data, made with libcrypto:
// each key knows the algorithm-specific fields of its public-key packet, and
// signing a digest gives the algorithm-specific fields of a signature packet.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

struct evp_pkey_st;
struct evp_md_st;

// A private key with its OpenPGP public-key fields (the MPIs, and for curves
// the OID before them).
struct signing_key {
    evp_pkey_st* pkey = nullptr;
    uint8_t algorithm = 0; // OpenPGP public-key algorithm id
    std::vector<uint8_t> public_fields;

    signing_key() = default;
    ~signing_key();
    signing_key(signing_key&& other) noexcept;
    signing_key& operator=(signing_key&& other) noexcept;
    signing_key(const signing_key&) = delete;
    signing_key& operator=(const signing_key&) = delete;
};

// Appends number (big-endian, leading zero bytes dropped) as an MPI.
void append_mpi(std::vector<uint8_t>& out, std::span<const uint8_t> number);

// The OpenSSL digest for an OpenPGP hash algorithm id, or null for one it
// does not know (MD5 is known: the generator signs with it on purpose).
const evp_md_st* openpgp_hash_md(uint8_t openpgp_hash_algorithm);

// An Ed25519 key from its 32-byte private seed: the same seed always gives
// the same key, and its signatures are deterministic too.
bool ed25519_key_from_seed(std::span<const uint8_t, 32> seed, signing_key& out);

// A fresh random key: RSA of the given bits; ECDSA on a curve named
// "P-256", "P-384", "P-521", "brainpoolP256r1", "brainpoolP384r1" or
// "brainpoolP512r1"; Ed25519.
bool generate_rsa_key(unsigned bits, signing_key& out);
// RSA with the given public exponent (big-endian), for tests of readers'
// limits on it.
bool generate_rsa_key_with_exponent(unsigned bits, std::span<const uint8_t> exponent,
                                    signing_key& out);
bool generate_ecdsa_key(std::string_view curve, signing_key& out);
bool generate_ed25519_key(signing_key& out);

// Takes a private key made elsewhere (RSA, DSA, ECDSA on a known curve,
// Ed25519) and fills in its OpenPGP fields. Frees pkey on failure.
bool signing_key_from_private(evp_pkey_st* pkey, signing_key& out);

// The OpenPGP public fields of a Curve25519 encryption subkey whose private
// key is seed: the OID, the point, and the key derivation parameters.
bool cv25519_subkey_fields(std::span<const uint8_t, 32> seed, std::vector<uint8_t>& fields);

// DSA: the domain parameters take long to make, so one set serves many keys.
struct dsa_domain {
    evp_pkey_st* params = nullptr;
    dsa_domain() = default;
    ~dsa_domain();
    dsa_domain(const dsa_domain&) = delete;
    dsa_domain& operator=(const dsa_domain&) = delete;
};
bool generate_dsa_domain(unsigned p_bits, unsigned q_bits, dsa_domain& out);
bool generate_dsa_key(const dsa_domain& domain, signing_key& out);

// Signs a digest made with the OpenPGP hash algorithm; returns the
// signature's algorithm-specific fields (MPIs), empty on failure.
std::vector<uint8_t> sign_digest(const signing_key& key, uint8_t openpgp_hash_algorithm,
                                 std::span<const uint8_t> digest);
