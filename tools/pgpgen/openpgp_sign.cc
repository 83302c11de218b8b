#include "openpgp_sign.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <array>
#include <memory>
#include <utility>

namespace {

struct pkey_ctx_free_t {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using pkey_ctx_holder = std::unique_ptr<EVP_PKEY_CTX, pkey_ctx_free_t>;
struct md_ctx_free_t {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct bn_free_t {
    void operator()(BIGNUM* bn) const { BN_free(bn); }
};
struct sig_free_t {
    void operator()(ECDSA_SIG* sig) const { ECDSA_SIG_free(sig); }
};

void append_bn(std::vector<uint8_t>& out, const BIGNUM* bn) {
    std::vector<uint8_t> bytes(static_cast<size_t>(BN_num_bytes(bn)));
    (void)BN_bn2bin(bn, bytes.data()); // writes exactly BN_num_bytes bytes
    append_mpi(out, bytes);
}

// Appends the named integer parameters of pkey as MPIs.
bool append_bn_params(std::vector<uint8_t>& out, EVP_PKEY* pkey,
                      std::initializer_list<const char*> names) {
    for (const char* name : names) {
        BIGNUM* raw = nullptr;
        if (EVP_PKEY_get_bn_param(pkey, name, &raw) != 1) return false;
        const std::unique_ptr<BIGNUM, bn_free_t> bn(raw);
        append_bn(out, bn.get());
    }
    return true;
}

struct curve_oid {
    std::string_view name;
    const char* openssl_name;
    std::vector<uint8_t> oid;
};

const curve_oid* find_curve(std::string_view name) {
    static const curve_oid curves[] = {
        {"P-256", "prime256v1", {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}},
        {"P-384", "secp384r1", {0x2B, 0x81, 0x04, 0x00, 0x22}},
        {"P-521", "secp521r1", {0x2B, 0x81, 0x04, 0x00, 0x23}},
        {"brainpoolP256r1",
         "brainpoolP256r1",
         {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07}},
        {"brainpoolP384r1",
         "brainpoolP384r1",
         {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0B}},
        {"brainpoolP512r1",
         "brainpoolP512r1",
         {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0D}},
    };
    for (const curve_oid& curve : curves)
        if (curve.name == name) return &curve;
    return nullptr;
}

constexpr std::array<uint8_t, 9> ed25519_oid = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                                0xDA, 0x47, 0x0F, 0x01};

bool finish_ed25519(EVP_PKEY* pkey, signing_key& out) {
    out = signing_key();
    out.pkey = pkey;
    if (pkey == nullptr) return false;
    out.algorithm = 22;
    std::array<uint8_t, 33> point{};
    point[0] = 0x40;
    size_t size = 32;
    if (EVP_PKEY_get_raw_public_key(pkey, point.data() + 1, &size) != 1 || size != 32) return false;
    out.public_fields.push_back(static_cast<uint8_t>(ed25519_oid.size()));
    out.public_fields.insert(out.public_fields.end(), ed25519_oid.begin(), ed25519_oid.end());
    append_mpi(out.public_fields, point);
    return true;
}

// Splits a DER DSA or ECDSA signature into its r and s MPIs.
std::vector<uint8_t> der_to_mpis(const uint8_t* der, size_t size) {
    const unsigned char* p = der;
    const std::unique_ptr<ECDSA_SIG, sig_free_t> sig(
        d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(size)));
    std::vector<uint8_t> out;
    if (!sig) return out;
    append_bn(out, ECDSA_SIG_get0_r(sig.get()));
    append_bn(out, ECDSA_SIG_get0_s(sig.get()));
    return out;
}

} // namespace

const EVP_MD* openpgp_hash_md(uint8_t openpgp_hash_algorithm) {
    switch (openpgp_hash_algorithm) {
    case 1:
        return EVP_md5();
    case 2:
        return EVP_sha1();
    case 3:
        return EVP_ripemd160();
    case 8:
        return EVP_sha256();
    case 9:
        return EVP_sha384();
    case 10:
        return EVP_sha512();
    case 11:
        return EVP_sha224();
    default:
        return nullptr;
    }
}

signing_key::~signing_key() {
    EVP_PKEY_free(pkey);
}

signing_key::signing_key(signing_key&& other) noexcept
    : pkey(std::exchange(other.pkey, nullptr)), algorithm(other.algorithm),
      public_fields(std::move(other.public_fields)) {}

signing_key& signing_key::operator=(signing_key&& other) noexcept {
    if (this != &other) {
        EVP_PKEY_free(pkey);
        pkey = std::exchange(other.pkey, nullptr);
        algorithm = other.algorithm;
        public_fields = std::move(other.public_fields);
    }
    return *this;
}

dsa_domain::~dsa_domain() {
    EVP_PKEY_free(params);
}

void append_mpi(std::vector<uint8_t>& out, std::span<const uint8_t> number) {
    size_t skip = 0;
    while (skip < number.size() && number[skip] == 0)
        ++skip;
    number = number.subspan(skip);
    size_t bits = number.size() * 8;
    if (!number.empty())
        for (uint8_t top = number[0]; (top & 0x80) == 0; top = static_cast<uint8_t>(top << 1))
            --bits;
    out.push_back(static_cast<uint8_t>(bits >> 8));
    out.push_back(static_cast<uint8_t>(bits));
    out.insert(out.end(), number.begin(), number.end());
}

bool ed25519_key_from_seed(std::span<const uint8_t, 32> seed, signing_key& out) {
    return finish_ed25519(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()), out);
}

bool generate_ed25519_key(signing_key& out) {
    return finish_ed25519(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), out);
}

bool generate_rsa_key(unsigned bits, signing_key& out) {
    return signing_key_from_private(
        EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)), out);
}

bool generate_rsa_key_with_exponent(unsigned bits, std::span<const uint8_t> exponent,
                                    signing_key& out) {
    out = signing_key();
    const std::unique_ptr<BIGNUM, bn_free_t> e(
        BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
    const pkey_ctx_holder ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* pkey = nullptr;
    if (!e || !ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) != 1 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) != 1 ||
        EVP_PKEY_keygen(ctx.get(), &pkey) != 1)
        return false;
    return signing_key_from_private(pkey, out);
}

bool generate_ecdsa_key(std::string_view curve_name, signing_key& out) {
    out = signing_key();
    const curve_oid* curve = find_curve(curve_name);
    if (curve == nullptr) return false;
    return signing_key_from_private(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve->openssl_name),
                                    out);
}

bool signing_key_from_private(EVP_PKEY* pkey, signing_key& out) {
    out = signing_key();
    if (pkey == nullptr) return false;
    if (EVP_PKEY_is_a(pkey, "ED25519") != 0) return finish_ed25519(pkey, out);
    out.pkey = pkey;
    if (EVP_PKEY_is_a(pkey, "RSA") != 0) {
        out.algorithm = 1;
        return append_bn_params(out.public_fields, pkey,
                                {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_E});
    }
    if (EVP_PKEY_is_a(pkey, "DSA") != 0) {
        out.algorithm = 17;
        return append_bn_params(out.public_fields, pkey,
                                {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q,
                                 OSSL_PKEY_PARAM_FFC_G, OSSL_PKEY_PARAM_PUB_KEY});
    }
    if (EVP_PKEY_is_a(pkey, "EC") == 0) return false;
    out.algorithm = 19;
    std::array<char, 64> group{};
    size_t group_size = 0;
    if (EVP_PKEY_get_utf8_string_param(pkey, OSSL_PKEY_PARAM_GROUP_NAME, group.data(), group.size(),
                                       &group_size) != 1)
        return false;
    const std::string_view group_name(group.data(), group_size);
    const curve_oid* curve = nullptr;
    for (const char* name :
         {"P-256", "P-384", "P-521", "brainpoolP256r1", "brainpoolP384r1", "brainpoolP512r1"})
        if (find_curve(name)->openssl_name == group_name) curve = find_curve(name);
    std::array<uint8_t, 160> point{};
    size_t size = 0;
    if (curve == nullptr || EVP_PKEY_get_octet_string_param(pkey, OSSL_PKEY_PARAM_PUB_KEY,
                                                            point.data(), point.size(), &size) != 1)
        return false;
    out.public_fields.push_back(static_cast<uint8_t>(curve->oid.size()));
    out.public_fields.insert(out.public_fields.end(), curve->oid.begin(), curve->oid.end());
    append_mpi(out.public_fields, std::span<const uint8_t>(point.data(), size));
    return true;
}

bool cv25519_subkey_fields(std::span<const uint8_t, 32> seed, std::vector<uint8_t>& fields) {
    EVP_PKEY* pkey =
        EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, seed.data(), seed.size());
    std::array<uint8_t, 33> point{};
    point[0] = 0x40;
    size_t size = 32;
    const bool ok = pkey != nullptr &&
                    EVP_PKEY_get_raw_public_key(pkey, point.data() + 1, &size) == 1 && size == 32;
    EVP_PKEY_free(pkey);
    if (!ok) return false;
    static const uint8_t oid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x97, 0x55, 0x01, 0x05, 0x01};
    fields.assign({sizeof oid});
    fields.insert(fields.end(), std::begin(oid), std::end(oid));
    append_mpi(fields, point);
    // Key derivation: SHA-256 and AES-128 key wrap.
    fields.insert(fields.end(), {3, 1, 8, 7});
    return true;
}

bool generate_dsa_domain(unsigned p_bits, unsigned q_bits, dsa_domain& out) {
    const pkey_ctx_holder ctx(EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr));
    return ctx && EVP_PKEY_paramgen_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_dsa_paramgen_bits(ctx.get(), static_cast<int>(p_bits)) == 1 &&
           EVP_PKEY_CTX_set_dsa_paramgen_q_bits(ctx.get(), static_cast<int>(q_bits)) == 1 &&
           EVP_PKEY_paramgen(ctx.get(), &out.params) == 1;
}

bool generate_dsa_key(const dsa_domain& domain, signing_key& out) {
    out = signing_key();
    const pkey_ctx_holder ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, domain.params, nullptr));
    out.algorithm = 17;
    return ctx && EVP_PKEY_keygen_init(ctx.get()) == 1 &&
           EVP_PKEY_keygen(ctx.get(), &out.pkey) == 1 &&
           append_bn_params(out.public_fields, out.pkey,
                            {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q, OSSL_PKEY_PARAM_FFC_G,
                             OSSL_PKEY_PARAM_PUB_KEY});
}

std::vector<uint8_t> sign_digest(const signing_key& key, uint8_t openpgp_hash_algorithm,
                                 std::span<const uint8_t> digest) {
    std::vector<uint8_t> out;
    if (key.pkey == nullptr) return out;
    if (key.algorithm == 22) {
        // Ed25519 signs the digest bytes as its message; R and S are the two
        // halves of the native signature.
        const std::unique_ptr<EVP_MD_CTX, md_ctx_free_t> md(EVP_MD_CTX_new());
        std::array<uint8_t, 64> signature{};
        size_t size = signature.size();
        if (!md || EVP_DigestSignInit(md.get(), nullptr, nullptr, nullptr, key.pkey) != 1 ||
            EVP_DigestSign(md.get(), signature.data(), &size, digest.data(), digest.size()) != 1 ||
            size != 64) {
            ERR_clear_error();
            return out;
        }
        append_mpi(out, std::span<const uint8_t>(signature.data(), 32));
        append_mpi(out, std::span<const uint8_t>(signature.data() + 32, 32));
        return out;
    }
    const pkey_ctx_holder ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1) return out;
    if (key.algorithm == 1 &&
        (EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
         openpgp_hash_md(openpgp_hash_algorithm) == nullptr ||
         EVP_PKEY_CTX_set_signature_md(ctx.get(), openpgp_hash_md(openpgp_hash_algorithm)) != 1))
        return out;
    size_t size = 0;
    if (EVP_PKEY_sign(ctx.get(), nullptr, &size, digest.data(), digest.size()) != 1) return out;
    std::vector<uint8_t> signature(size);
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &size, digest.data(), digest.size()) != 1) {
        ERR_clear_error();
        return out;
    }
    signature.resize(size);
    if (key.algorithm == 1) {
        append_mpi(out, signature);
        return out;
    }
    return der_to_mpis(signature.data(), signature.size());
}
