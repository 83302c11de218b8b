#include "openpgp_packets.h"
#include "openpgp_sign.h"

#include <openssl/evp.h>

#include <memory>

namespace {

void put16(bytes& out, size_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void put32(bytes& out, uint64_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void append_subpacket(bytes& out, uint8_t type, std::span<const uint8_t> data) {
    out.push_back(static_cast<uint8_t>(data.size() + 1)); // every subpacket here is short
    out.push_back(type);
    out.insert(out.end(), data.begin(), data.end());
}

void append_subpacket32(bytes& out, uint8_t type, uint32_t value) {
    bytes data;
    put32(data, value);
    append_subpacket(out, type, data);
}

struct md_ctx_free_t {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// The signature body up to and including the hashed subpackets, and the
// unhashed subpackets.
void signature_head(uint8_t algorithm, const signature_spec& spec, bytes& head, bytes& unhashed) {
    bytes hashed;
    append_subpacket32(hashed, 2, spec.created);
    if (spec.expires_after != 0) append_subpacket32(hashed, 3, spec.expires_after);
    if (spec.key_expires_after != 0) append_subpacket32(hashed, 9, spec.key_expires_after);
    if (spec.key_flags != 0) append_subpacket(hashed, 27, std::span(&spec.key_flags, 1));
    if (spec.primary_user_id) {
        const uint8_t yes = 1;
        append_subpacket(hashed, 25, std::span(&yes, 1));
    }
    hashed.insert(hashed.end(), spec.extra_hashed.begin(), spec.extra_hashed.end());
    bytes fingerprint = {4};
    fingerprint.insert(fingerprint.end(), spec.issuer_fingerprint.begin(),
                       spec.issuer_fingerprint.end());
    append_subpacket(hashed, 33, fingerprint);
    if (spec.issuer_key_id)
        append_subpacket(unhashed, 16, std::span(spec.issuer_fingerprint).subspan(12));
    if (spec.named_algorithm != 0) algorithm = spec.named_algorithm;
    head = {4, spec.sig_class, algorithm, spec.hash_algorithm};
    put16(head, hashed.size());
    head.insert(head.end(), hashed.begin(), hashed.end());
}

// The digest a v4 signature with this head signs.
bool signature_digest(uint8_t hash_algorithm, const signed_material& material, const bytes& head,
                      std::array<uint8_t, 64>& digest, unsigned& size) {
    const EVP_MD* md = openpgp_hash_md(hash_algorithm);
    const std::unique_ptr<EVP_MD_CTX, md_ctx_free_t> ctx(EVP_MD_CTX_new());
    if (md == nullptr || !ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return false;
    bytes prefix;
    const auto feed = [&](std::span<const uint8_t> data) {
        return EVP_DigestUpdate(ctx.get(), data.data(), data.size()) == 1;
    };
    for (const std::span<const uint8_t> key : {material.key_body, material.subkey_body}) {
        if (key.empty()) continue;
        prefix = {0x99};
        put16(prefix, key.size());
        if (!feed(prefix) || !feed(key)) return false;
    }
    if (!material.user_id.empty()) {
        prefix = {static_cast<uint8_t>(material.user_attribute ? 0xD1 : 0xB4)};
        put32(prefix, material.user_id.size());
        if (!feed(prefix) || !feed(material.user_id)) return false;
    }
    bytes trailer = {4, 0xFF};
    put32(trailer, head.size());
    return feed(head) && feed(trailer) && EVP_DigestFinal_ex(ctx.get(), digest.data(), &size) == 1;
}

bytes finish_signature(bytes head, const bytes& unhashed, const std::array<uint8_t, 64>& digest,
                       std::span<const uint8_t> fields) {
    put16(head, unhashed.size());
    head.insert(head.end(), unhashed.begin(), unhashed.end());
    head.push_back(digest[0]);
    head.push_back(digest[1]);
    head.insert(head.end(), fields.begin(), fields.end());
    return head;
}

} // namespace

void append_packet(bytes& out, uint8_t tag, std::span<const uint8_t> body, bool new_format) {
    const size_t n = body.size();
    if (new_format || tag >= 16) {
        out.push_back(static_cast<uint8_t>(0xC0 | tag));
        if (n < 192) {
            out.push_back(static_cast<uint8_t>(n));
        } else if (n < 8384) {
            out.push_back(static_cast<uint8_t>(((n - 192) >> 8) + 192));
            out.push_back(static_cast<uint8_t>(n - 192));
        } else {
            out.push_back(0xFF);
            put32(out, n);
        }
    } else if (n < 256) {
        out.push_back(static_cast<uint8_t>(0x80 | (tag << 2)));
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 65536) {
        out.push_back(static_cast<uint8_t>(0x80 | (tag << 2) | 1));
        put16(out, n);
    } else {
        out.push_back(static_cast<uint8_t>(0x80 | (tag << 2) | 2));
        put32(out, n);
    }
    out.insert(out.end(), body.begin(), body.end());
}

bytes public_key_body(uint32_t created, uint8_t algorithm, std::span<const uint8_t> fields) {
    bytes body = {4};
    put32(body, created);
    body.push_back(algorithm);
    body.insert(body.end(), fields.begin(), fields.end());
    return body;
}

std::array<uint8_t, 20> key_fingerprint(std::span<const uint8_t> key_body) {
    bytes prefix = {0x99};
    put16(prefix, key_body.size());
    std::array<uint8_t, 20> fingerprint{};
    const std::unique_ptr<EVP_MD_CTX, md_ctx_free_t> ctx(EVP_MD_CTX_new());
    unsigned size = 0;
    // SHA-1 over memory cannot fail short of an allocation failure, which
    // leaves the fingerprint zero.
    (void)(ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha1(), nullptr) == 1 &&
           EVP_DigestUpdate(ctx.get(), prefix.data(), prefix.size()) == 1 &&
           EVP_DigestUpdate(ctx.get(), key_body.data(), key_body.size()) == 1 &&
           EVP_DigestFinal_ex(ctx.get(), fingerprint.data(), &size) == 1);
    return fingerprint;
}

uint64_t key_id_of(const std::array<uint8_t, 20>& fingerprint) {
    uint64_t id = 0;
    for (size_t i = 12; i < 20; ++i)
        id = (id << 8) | fingerprint[i];
    return id;
}

bytes signature_body(const signing_key& key, const signature_spec& spec,
                     const signed_material& material, bool forge) {
    bytes head;
    bytes unhashed;
    signature_head(key.algorithm, spec, head, unhashed);
    std::array<uint8_t, 64> digest{};
    unsigned size = 0;
    if (!signature_digest(spec.hash_algorithm, material, head, digest, size)) return {};
    bytes fields = sign_digest(key, spec.hash_algorithm, std::span(digest.data(), size));
    if (fields.empty()) return {};
    if (forge) fields.back() ^= 0x01;
    return finish_signature(std::move(head), unhashed, digest, fields);
}

bytes unverifiable_signature_body(uint8_t algorithm, const signature_spec& spec,
                                  const signed_material& material) {
    bytes head;
    bytes unhashed;
    signature_head(algorithm, spec, head, unhashed);
    std::array<uint8_t, 64> digest{};
    unsigned size = 0;
    if (!signature_digest(spec.hash_algorithm, material, head, digest, size)) return {};
    // One 256-bit MPI taken from the digest itself.
    bytes fields;
    append_mpi(fields, std::span(digest.data(), 32));
    return finish_signature(std::move(head), unhashed, digest, fields);
}

bytes signature_body_with_fields(uint8_t algorithm, const signature_spec& spec,
                                 const signed_material& material, std::span<const uint8_t> fields) {
    bytes head;
    bytes unhashed;
    signature_head(algorithm, spec, head, unhashed);
    std::array<uint8_t, 64> digest{};
    unsigned size = 0;
    if (!signature_digest(spec.hash_algorithm, material, head, digest, size)) return {};
    return finish_signature(std::move(head), unhashed, digest, fields);
}
