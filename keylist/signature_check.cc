#include "signature_check.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

// The hashes signatures may use, fetched once: an explicit fetch spares every
// digest and verification the provider lookup an implicit one would make.
struct hash_entry {
    uint8_t openpgp_id;
    const char* openssl_name;
};
constexpr hash_entry hash_names[] = {
    {HASH_SHA1, "SHA1"},     {HASH_RIPEMD160, "RIPEMD160"}, {HASH_SHA256, "SHA256"},
    {HASH_SHA384, "SHA384"}, {HASH_SHA512, "SHA512"},       {HASH_SHA224, "SHA224"},
};

struct hash_table {
    std::array<EVP_MD*, 256> by_id{};
    hash_table() {
        for (const hash_entry& entry : hash_names)
            by_id[entry.openpgp_id] = EVP_MD_fetch(nullptr, entry.openssl_name, nullptr);
        // A hash the library cannot provide stays null and counts as unsupported.
        ERR_clear_error();
    }
    ~hash_table() {
        for (EVP_MD* md : by_id)
            EVP_MD_free(md);
    }
    hash_table(const hash_table&) = delete;
    hash_table& operator=(const hash_table&) = delete;
};

const EVP_MD* hash_md(uint8_t openpgp_id) {
    static const hash_table table; // initialised once, thread-safe
    const EVP_MD* md = table.by_id[openpgp_id];
    return md;
}

// Reads one multiprecision integer (a two-byte bit count, then the bytes)
// from the front of in. False when the bytes are not all there.
bool read_mpi(std::span<const uint8_t>& in, std::span<const uint8_t>& value) {
    if (in.size() < 2) return false;
    const size_t bits = (size_t{in[0]} << 8) | in[1];
    const size_t bytes = (bits + 7) / 8;
    if (in.size() - 2 < bytes) return false;
    value = in.subspan(2, bytes);
    in = in.subspan(2 + bytes);
    return true;
}

std::span<const uint8_t> strip_leading_zeros(std::span<const uint8_t> number) {
    size_t skip = 0;
    while (skip < number.size() && number[skip] == 0)
        ++skip;
    return number.subspan(skip);
}

size_t bit_length(std::span<const uint8_t> number) {
    size_t skip = 0;
    while (skip < number.size() && number[skip] == 0)
        ++skip;
    if (skip == number.size()) return 0;
    return 8 * (number.size() - skip - 1) + static_cast<size_t>(std::bit_width(number[skip]));
}

// Reads the two integers of a public key or signature (n and e; r and s)
// from the front of in, without their leading zero bytes.
bool read_two_numbers(std::span<const uint8_t>& in, std::span<const uint8_t>& a,
                      std::span<const uint8_t>& b) {
    if (!read_mpi(in, a) || !read_mpi(in, b)) return false;
    a = strip_leading_zeros(a);
    b = strip_leading_zeros(b);
    return true;
}

// Curves by their OID (the bytes after the tag and length of the DER form).
struct curve_entry {
    uint8_t algorithm; // PK_ECDSA or PK_EDDSA
    std::array<uint8_t, 10> oid;
    uint8_t oid_size;
    uint16_t order_bits;
    const char* openssl_name;
};
constexpr curve_entry curves[] = {
    {PK_ECDSA, {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, 8, 256, "prime256v1"},
    {PK_ECDSA, {0x2B, 0x81, 0x04, 0x00, 0x22}, 5, 384, "secp384r1"},
    {PK_ECDSA, {0x2B, 0x81, 0x04, 0x00, 0x23}, 5, 521, "secp521r1"},
    {PK_ECDSA, {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07}, 9, 256, "brainpoolP256r1"},
    {PK_ECDSA, {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0B}, 9, 384, "brainpoolP384r1"},
    {PK_ECDSA, {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0D}, 9, 512, "brainpoolP512r1"},
    {PK_EDDSA, {0x2B, 0x06, 0x01, 0x04, 0x01, 0xDA, 0x47, 0x0F, 0x01}, 9, 0, "ED25519"},
};

const curve_entry* find_curve(uint8_t algorithm, std::span<const uint8_t> oid) {
    for (const curve_entry& curve : curves)
        if (curve.algorithm == algorithm && curve.oid_size == oid.size() &&
            std::equal(oid.begin(), oid.end(), curve.oid.begin()))
            return &curve;
    return nullptr;
}

struct bn_free_t {
    void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using bn_holder = std::unique_ptr<BIGNUM, bn_free_t>;
struct param_bld_free_t {
    void operator()(OSSL_PARAM_BLD* bld) const { OSSL_PARAM_BLD_free(bld); }
};
struct param_free_t {
    void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); }
};
struct pkey_ctx_free_t {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using pkey_ctx_holder = std::unique_ptr<EVP_PKEY_CTX, pkey_ctx_free_t>;

// Builds a public key of the named type from the parameters.
EVP_PKEY* key_from_params(const char* type, OSSL_PARAM* params) {
    const pkey_ctx_holder ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* pkey = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &pkey, EVP_PKEY_PUBLIC_KEY, params) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    return pkey;
}

// An RSA or DSA key from its big-endian integers, named by OpenSSL's
// parameter names.
EVP_PKEY* key_from_integers(const char* type, std::span<const char* const> names,
                            std::span<const std::span<const uint8_t>> values) {
    const std::unique_ptr<OSSL_PARAM_BLD, param_bld_free_t> bld(OSSL_PARAM_BLD_new());
    if (!bld) return nullptr;
    std::vector<bn_holder> numbers; // must outlive the parameters built from them
    for (size_t i = 0; i < names.size(); ++i) {
        numbers.emplace_back(
            BN_bin2bn(values[i].data(), static_cast<int>(values[i].size()), nullptr));
        if (!numbers.back() ||
            OSSL_PARAM_BLD_push_BN(bld.get(), names[i], numbers.back().get()) != 1)
            return nullptr;
    }
    const std::unique_ptr<OSSL_PARAM, param_free_t> params(OSSL_PARAM_BLD_to_param(bld.get()));
    if (!params) return nullptr;
    return key_from_params(type, params.get());
}

check_result load_rsa(std::span<const uint8_t> fields, verify_key& out) {
    std::span<const uint8_t> n;
    std::span<const uint8_t> e;
    if (!read_two_numbers(fields, n, e)) return check_result::malformed;
    if (n.empty() || e.empty()) return check_result::malformed;
    // A huge exponent or modulus makes every verification slow, and needs no
    // private key to publish.
    if (bit_length(n) > RSA_MODULUS_BITS_MAX || bit_length(e) > RSA_EXPONENT_BITS_MAX)
        return check_result::key_size_refused;
    const char* const names[] = {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_E};
    const std::span<const uint8_t> values[] = {n, e};
    out.pkey = key_from_integers("RSA", names, values);
    if (out.pkey == nullptr) return check_result::malformed;
    out.rsa_modulus_bytes = static_cast<uint16_t>(n.size());
    return check_result::valid;
}

check_result load_dsa(std::span<const uint8_t> fields, verify_key& out) {
    std::span<const uint8_t> values[4];
    for (std::span<const uint8_t>& value : values)
        if (!read_mpi(fields, value)) return check_result::malformed;
    const size_t p_bits = bit_length(values[0]);
    const size_t q_bits = bit_length(values[1]);
    if (p_bits > DSA_P_BITS_MAX || (q_bits != 160 && q_bits != 224 && q_bits != 256))
        return check_result::key_size_refused;
    const char* const names[] = {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q,
                                 OSSL_PKEY_PARAM_FFC_G, OSSL_PKEY_PARAM_PUB_KEY};
    out.pkey = key_from_integers("DSA", names, values);
    out.order_bits = static_cast<uint16_t>(q_bits);
    return out.pkey != nullptr ? check_result::valid : check_result::malformed;
}

// ECDSA and EdDSA keys: a one-byte OID length, the OID, the point as an MPI.
check_result load_curve_key(uint8_t algorithm, std::span<const uint8_t> fields, verify_key& out) {
    if (fields.empty() || fields[0] == 0 || fields[0] == 0xFF || fields.size() - 1 < fields[0])
        return check_result::malformed;
    const std::span<const uint8_t> oid = fields.subspan(1, fields[0]);
    fields = fields.subspan(1 + size_t{fields[0]});
    std::span<const uint8_t> point;
    if (!read_mpi(fields, point)) return check_result::malformed;
    const curve_entry* curve = find_curve(algorithm, oid);
    if (curve == nullptr) return check_result::unsupported_curve;
    if (algorithm == PK_EDDSA) {
        // The native point form: 0x40, then the 32-byte public key.
        if (point.size() != 33 || point[0] != 0x40) return check_result::malformed;
        out.pkey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, point.data() + 1, 32);
    } else {
        if (point.empty() || point[0] != 0x04) return check_result::malformed;
        // The parameter constructors take non-const pointers but only read.
        char* group = const_cast<char*>(
            curve->openssl_name); // NOLINT(cppcoreguidelines-pro-type-const-cast): read only
        void* point_bytes = const_cast<uint8_t*>(
            point.data()); // NOLINT(cppcoreguidelines-pro-type-const-cast): read only
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
            OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point_bytes, point.size()),
            OSSL_PARAM_construct_end(),
        };
        out.pkey = key_from_params("EC", params);
        out.order_bits = curve->order_bits;
    }
    if (out.pkey == nullptr) {
        ERR_clear_error();
        return check_result::malformed;
    }
    return check_result::valid;
}

// Appends a DER length to out at pos.
void put_der_length(uint8_t* out, size_t& pos, size_t length) {
    if (length < 0x80) {
        out[pos++] = static_cast<uint8_t>(length);
    } else {
        out[pos++] = 0x81;
        out[pos++] = static_cast<uint8_t>(length);
    }
}

// The DER SEQUENCE of two INTEGERs that OpenSSL takes as a DSA or ECDSA
// signature. Each integer is at most max_bytes long (checked by the caller),
// so the whole fits in 2 * (max_bytes + 4) + 3 bytes.
size_t der_signature(std::span<const uint8_t> r, std::span<const uint8_t> s, uint8_t* out) {
    const auto integer_size = [](std::span<const uint8_t> v) {
        const size_t body = v.empty() ? 1 : v.size() + ((v[0] & 0x80) != 0 ? 1 : 0);
        return body + (body < 0x80 ? 2 : 3);
    };
    size_t pos = 0;
    out[pos++] = 0x30;
    put_der_length(out, pos, integer_size(r) + integer_size(s));
    for (const std::span<const uint8_t> v : {r, s}) {
        out[pos++] = 0x02;
        const bool pad = v.empty() || (v[0] & 0x80) != 0;
        put_der_length(out, pos, v.size() + (pad ? 1 : 0));
        if (pad) out[pos++] = 0;
        std::memcpy(out + pos, v.data(), v.size());
        pos += v.size();
    }
    return pos;
}

// One EVP_MD_CTX per thread for Ed25519 verification, reused call after call.
struct thread_md_ctx {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    thread_md_ctx() = default;
    ~thread_md_ctx() { EVP_MD_CTX_free(ctx); }
    thread_md_ctx(const thread_md_ctx&) = delete;
    thread_md_ctx& operator=(const thread_md_ctx&) = delete;
};

check_result verify_ed25519(const verify_key& key, std::span<const uint8_t> digest,
                            std::span<const uint8_t> signature) {
    thread_local thread_md_ctx md;
    if (md.ctx == nullptr) return check_result::bad_signature;
    (void)EVP_MD_CTX_reset(md.ctx); // always succeeds on an allocated context
    const bool ok = EVP_DigestVerifyInit(md.ctx, nullptr, nullptr, nullptr, key.pkey) == 1 &&
                    EVP_DigestVerify(md.ctx, signature.data(), signature.size(), digest.data(),
                                     digest.size()) == 1;
    if (!ok) ERR_clear_error();
    return ok ? check_result::valid : check_result::bad_signature;
}

// RSA with PKCS#1 v1.5 padding, DSA and ECDSA through one EVP_PKEY_verify.
check_result verify_pkey(const verify_key& key, const EVP_MD* md, std::span<const uint8_t> digest,
                         std::span<const uint8_t> signature, bool rsa) {
    const pkey_ctx_holder ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey, nullptr));
    bool ok = ctx && EVP_PKEY_verify_init(ctx.get()) == 1;
    if (ok && rsa)
        ok = EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
             EVP_PKEY_CTX_set_signature_md(ctx.get(), md) == 1;
    ok = ok && EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), digest.data(),
                               digest.size()) == 1;
    if (!ok) ERR_clear_error();
    return ok ? check_result::valid : check_result::bad_signature;
}

// Ed25519: R and S, each left-padded to 32 bytes.
check_result ed25519_native(std::span<const uint8_t> fields, native_signature& out) {
    std::span<const uint8_t> r;
    std::span<const uint8_t> s;
    if (!read_two_numbers(fields, r, s)) return check_result::malformed;
    if (r.size() > 32 || s.size() > 32) return check_result::bad_signature;
    std::fill(out.bytes.begin(), out.bytes.begin() + 64, 0);
    std::copy(r.begin(), r.end(), out.bytes.begin() + static_cast<ptrdiff_t>(32 - r.size()));
    std::copy(s.begin(), s.end(), out.bytes.begin() + static_cast<ptrdiff_t>(64 - s.size()));
    out.size = 64;
    return check_result::valid;
}

// RSA: the signature is as long as the modulus; its MPI drops leading zeros.
check_result rsa_native(const verify_key& key, std::span<const uint8_t> fields,
                        native_signature& out) {
    std::span<const uint8_t> value;
    if (!read_mpi(fields, value)) return check_result::malformed;
    value = strip_leading_zeros(value);
    if (value.size() > key.rsa_modulus_bytes) return check_result::bad_signature;
    const size_t size = key.rsa_modulus_bytes;
    std::fill(out.bytes.begin(), out.bytes.begin() + static_cast<ptrdiff_t>(size), 0);
    std::copy(value.begin(), value.end(),
              out.bytes.begin() + static_cast<ptrdiff_t>(size - value.size()));
    out.size = size;
    return check_result::valid;
}

// DSA and ECDSA: the DER form of r and s.
check_result der_native(std::span<const uint8_t> fields, native_signature& out) {
    std::span<const uint8_t> r;
    std::span<const uint8_t> s;
    if (!read_two_numbers(fields, r, s)) return check_result::malformed;
    // DSA's q is at most 256 bits and the largest curve order 521 bits.
    constexpr size_t max_integer = 66;
    static_assert(2 * (max_integer + 4) + 3 <= native_signature{}.bytes.size());
    if (r.size() > max_integer || s.size() > max_integer) return check_result::bad_signature;
    out.size = der_signature(r, s, out.bytes.data());
    return check_result::valid;
}

} // namespace

bool hash_supported(uint8_t hash_algorithm) {
    return hash_md(hash_algorithm) != nullptr;
}

digest_context::digest_context() : ctx(EVP_MD_CTX_new()) {}
digest_context::~digest_context() {
    EVP_MD_CTX_free(ctx);
}

bool digest_begin(digest_context& context, uint8_t openpgp_hash_algorithm) {
    const EVP_MD* md = hash_md(openpgp_hash_algorithm);
    if (md == nullptr || context.ctx == nullptr) return false;
    if (EVP_DigestInit_ex2(context.ctx, md, nullptr) != 1) {
        ERR_clear_error();
        return false;
    }
    return true;
}

void digest_update(digest_context& context, std::span<const uint8_t> bytes) {
    // Updating a started software digest cannot fail; a context that never
    // started (digest_begin returned false) is the caller's error.
    (void)EVP_DigestUpdate(context.ctx, bytes.data(), bytes.size());
}

digest_value digest_final(digest_context& context) {
    digest_value value;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.ctx, value.bytes.data(), &length) != 1) {
        ERR_clear_error();
        length = 0;
    }
    value.length = length;
    return value;
}

verify_key::~verify_key() {
    EVP_PKEY_free(pkey);
}

verify_key::verify_key(verify_key&& other) noexcept
    : pkey(std::exchange(other.pkey, nullptr)), algorithm(other.algorithm),
      rsa_modulus_bytes(other.rsa_modulus_bytes), order_bits(other.order_bits) {}

verify_key& verify_key::operator=(verify_key&& other) noexcept {
    if (this != &other) {
        EVP_PKEY_free(pkey);
        pkey = std::exchange(other.pkey, nullptr);
        algorithm = other.algorithm;
        rsa_modulus_bytes = other.rsa_modulus_bytes;
        order_bits = other.order_bits;
    }
    return *this;
}

const char* check_result_name(check_result result) {
    switch (result) {
    case check_result::valid:
        return "valid";
    case check_result::bad_signature:
        return "bad signature";
    case check_result::unsupported_algorithm:
        return "unsupported algorithm";
    case check_result::unsupported_curve:
        return "unsupported curve";
    case check_result::unsupported_hash:
        return "unsupported hash";
    case check_result::malformed:
        return "malformed";
    case check_result::key_size_refused:
        return "key size refused";
    case check_result::hash_too_short:
        return "hash too short for the key";
    }
    return "unknown";
}

check_result load_verify_key(uint8_t public_key_algorithm, std::span<const uint8_t> key_fields,
                             verify_key& out) {
    out = verify_key();
    check_result result = check_result::unsupported_algorithm;
    switch (public_key_algorithm) {
    case PK_RSA:
    case PK_RSA_SIGN_ONLY:
        result = load_rsa(key_fields, out);
        break;
    case PK_DSA:
        result = load_dsa(key_fields, out);
        break;
    case PK_ECDSA:
    case PK_EDDSA:
        result = load_curve_key(public_key_algorithm, key_fields, out);
        break;
    default:
        break;
    }
    if (result != check_result::valid) {
        out = verify_key();
        return result;
    }
    out.algorithm = public_key_algorithm;
    return result;
}

check_result check_signature(const verify_key& key, uint8_t openpgp_hash_algorithm,
                             std::span<const uint8_t> digest,
                             std::span<const uint8_t> signature_fields) {
    if (key.pkey == nullptr) return check_result::unsupported_algorithm;
    const EVP_MD* md = hash_md(openpgp_hash_algorithm);
    if (md == nullptr) return check_result::unsupported_hash;
    if (digest.size() != static_cast<size_t>(EVP_MD_get_size(md))) return check_result::malformed;
    // gpg refuses a digest shorter than DSA's q or the curve's order (P-521
    // takes the longest there is, SHA-512); OpenSSL would truncate nothing.
    constexpr size_t longest_digest_bits = 512;
    if ((key.algorithm == PK_DSA || key.algorithm == PK_ECDSA) &&
        8 * digest.size() < std::min<size_t>(key.order_bits, longest_digest_bits))
        return check_result::hash_too_short;
    native_signature native;
    const check_result form = native_form(key, signature_fields, native);
    if (form != check_result::valid) return form;
    return verify_native(key, openpgp_hash_algorithm, digest,
                         std::span<const uint8_t>(native.bytes.data(), native.size));
}

check_result native_form(const verify_key& key, std::span<const uint8_t> signature_fields,
                         native_signature& out) {
    switch (key.algorithm) {
    case PK_RSA:
    case PK_RSA_SIGN_ONLY:
        return rsa_native(key, signature_fields, out);
    case PK_DSA:
    case PK_ECDSA:
        return der_native(signature_fields, out);
    case PK_EDDSA:
        return ed25519_native(signature_fields, out);
    default:
        return check_result::unsupported_algorithm;
    }
}

check_result verify_native(const verify_key& key, uint8_t openpgp_hash_algorithm,
                           std::span<const uint8_t> digest, std::span<const uint8_t> native) {
    const EVP_MD* md = hash_md(openpgp_hash_algorithm);
    if (key.pkey == nullptr || md == nullptr) return check_result::unsupported_algorithm;
    switch (key.algorithm) {
    case PK_RSA:
    case PK_RSA_SIGN_ONLY:
        return verify_pkey(key, md, digest, native, true);
    case PK_DSA:
    case PK_ECDSA:
        return verify_pkey(key, md, digest, native, false);
    case PK_EDDSA:
        return verify_ed25519(key, digest, native);
    default:
        return check_result::unsupported_algorithm;
    }
}
