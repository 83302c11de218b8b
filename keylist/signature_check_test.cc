// Keys and signatures made with libcrypto for every supported algorithm and
// curve, checked through the OpenPGP fields they are carried in.
#include "signature_check.h"

#include "openpgp_sign.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace {

digest_value digest_of(uint8_t hash, std::string_view text) {
    digest_context context;
    EXPECT_TRUE(digest_begin(context, hash));
    digest_update(context, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    return digest_final(context);
}

struct algorithm_case {
    const char* name;
    std::function<bool(signing_key&)> make;
    uint8_t hash;
};

TEST(SignatureCheck, EveryAlgorithmVerifiesAndRejectsAFlippedBitAndATruncation) {
    dsa_domain dsa;
    ASSERT_TRUE(generate_dsa_domain(1024, 160, dsa));
    const algorithm_case cases[] = {
        {"RSA-2048 SHA-256", [](signing_key& k) { return generate_rsa_key(2048, k); }, HASH_SHA256},
        {"RSA-1024 SHA-1", [](signing_key& k) { return generate_rsa_key(1024, k); }, HASH_SHA1},
        {"RSA-1024 RIPEMD-160", [](signing_key& k) { return generate_rsa_key(1024, k); },
         HASH_RIPEMD160},
        {"RSA-1024 SHA-224", [](signing_key& k) { return generate_rsa_key(1024, k); }, HASH_SHA224},
        {"DSA-1024 SHA-256", [&](signing_key& k) { return generate_dsa_key(dsa, k); }, HASH_SHA256},
        {"DSA-1024 SHA-1", [&](signing_key& k) { return generate_dsa_key(dsa, k); }, HASH_SHA1},
        {"P-256 SHA-256", [](signing_key& k) { return generate_ecdsa_key("P-256", k); },
         HASH_SHA256},
        {"P-384 SHA-384", [](signing_key& k) { return generate_ecdsa_key("P-384", k); },
         HASH_SHA384},
        {"P-521 SHA-512", [](signing_key& k) { return generate_ecdsa_key("P-521", k); },
         HASH_SHA512},
        {"brainpoolP256r1", [](signing_key& k) { return generate_ecdsa_key("brainpoolP256r1", k); },
         HASH_SHA256},
        {"brainpoolP384r1", [](signing_key& k) { return generate_ecdsa_key("brainpoolP384r1", k); },
         HASH_SHA384},
        {"brainpoolP512r1", [](signing_key& k) { return generate_ecdsa_key("brainpoolP512r1", k); },
         HASH_SHA512},
        {"Ed25519 SHA-256", [](signing_key& k) { return generate_ed25519_key(k); }, HASH_SHA256},
        {"Ed25519 SHA-1", [](signing_key& k) { return generate_ed25519_key(k); }, HASH_SHA1},
    };
    for (const algorithm_case& c : cases) {
        SCOPED_TRACE(c.name);
        signing_key signer;
        ASSERT_TRUE(c.make(signer));
        verify_key key;
        ASSERT_EQ(load_verify_key(signer.algorithm, signer.public_fields, key),
                  check_result::valid);
        const digest_value digest = digest_of(c.hash, "a user id and its key");
        std::vector<uint8_t> fields = sign_digest(signer, c.hash, digest);
        ASSERT_FALSE(fields.empty());
        EXPECT_EQ(check_signature(key, c.hash, digest, fields), check_result::valid);

        std::vector<uint8_t> flipped = fields;
        flipped.back() ^= 0x01;
        EXPECT_EQ(check_signature(key, c.hash, digest, flipped), check_result::bad_signature);
        const digest_value other = digest_of(c.hash, "another user id");
        EXPECT_EQ(check_signature(key, c.hash, other, fields), check_result::bad_signature);

        const std::span<const uint8_t> truncated(fields.data(), fields.size() - 1);
        EXPECT_EQ(check_signature(key, c.hash, digest, truncated), check_result::malformed);
        const std::span<const uint8_t> key_truncated(signer.public_fields.data(),
                                                     signer.public_fields.size() - 1);
        verify_key none;
        EXPECT_EQ(load_verify_key(signer.algorithm, key_truncated, none), check_result::malformed);
        EXPECT_EQ(none.pkey, nullptr);
    }
}

TEST(SignatureCheck, OneKeyServesManyThreads) {
    signing_key ed25519;
    signing_key rsa;
    ASSERT_TRUE(generate_ed25519_key(ed25519));
    ASSERT_TRUE(generate_rsa_key(1024, rsa));
    const digest_value digest = digest_of(HASH_SHA512, "shared");
    const std::vector<uint8_t> ed25519_fields = sign_digest(ed25519, HASH_SHA512, digest);
    const std::vector<uint8_t> rsa_fields = sign_digest(rsa, HASH_SHA512, digest);
    verify_key ed25519_key;
    verify_key rsa_key;
    ASSERT_EQ(load_verify_key(PK_EDDSA, ed25519.public_fields, ed25519_key), check_result::valid);
    ASSERT_EQ(load_verify_key(PK_RSA, rsa.public_fields, rsa_key), check_result::valid);
    std::atomic<int> valid{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            digest_context context;
            for (int i = 0; i < 50; ++i) {
                // Each thread digests on its own context, then checks with the shared keys.
                (void)digest_begin(context, HASH_SHA512);
                digest_update(context, std::span(reinterpret_cast<const uint8_t*>("shared"), 6));
                const digest_value mine = digest_final(context);
                valid += check_signature(ed25519_key, HASH_SHA512, mine, ed25519_fields) ==
                         check_result::valid;
                valid +=
                    check_signature(rsa_key, HASH_SHA512, mine, rsa_fields) == check_result::valid;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(valid, 4 * 50 * 2);
}

TEST(SignatureCheck, RefusesWhatCannotBeChecked) {
    signing_key signer;
    ASSERT_TRUE(generate_ed25519_key(signer));
    verify_key key;
    ASSERT_EQ(load_verify_key(PK_EDDSA, signer.public_fields, key), check_result::valid);

    digest_context context;
    EXPECT_FALSE(digest_begin(context, HASH_MD5));
    EXPECT_FALSE(digest_begin(context, 4));
    EXPECT_FALSE(digest_begin(context, 200));
    const digest_value digest = digest_of(HASH_SHA256, "x");
    const std::vector<uint8_t> fields = sign_digest(signer, HASH_SHA256, digest);
    EXPECT_EQ(check_signature(key, HASH_MD5, std::span(digest.data(), 16), fields),
              check_result::unsupported_hash);
    // A digest of the wrong length for its hash is not checked at all.
    EXPECT_EQ(check_signature(key, HASH_SHA512, digest, fields), check_result::malformed);

    // The same point under another OID, and an Ed25519 key called ECDSA.
    std::vector<uint8_t> secp256k1 = {5, 0x2B, 0x81, 0x04, 0x00, 0x0A};
    signing_key p256;
    ASSERT_TRUE(generate_ecdsa_key("P-256", p256));
    secp256k1.insert(secp256k1.end(), p256.public_fields.begin() + 9, p256.public_fields.end());
    verify_key none;
    EXPECT_EQ(load_verify_key(PK_ECDSA, secp256k1, none), check_result::unsupported_curve);
    EXPECT_EQ(load_verify_key(PK_ECDSA, signer.public_fields, none),
              check_result::unsupported_curve);
    EXPECT_EQ(load_verify_key(PK_EDDSA, p256.public_fields, none), check_result::unsupported_curve);
    EXPECT_EQ(load_verify_key(PK_RSA_ENCRYPT_ONLY, p256.public_fields, none),
              check_result::unsupported_algorithm);
    EXPECT_EQ(load_verify_key(PK_ELGAMAL_ENCRYPT_ONLY, p256.public_fields, none),
              check_result::unsupported_algorithm);
    EXPECT_EQ(load_verify_key(PK_RSA, {}, none), check_result::malformed);
    // An MPI that claims 64 Kbit in a few bytes.
    const std::vector<uint8_t> huge = {0xFF, 0xFF, 1, 2, 3};
    EXPECT_EQ(load_verify_key(PK_RSA, huge, none), check_result::malformed);
    EXPECT_EQ(check_signature(key, HASH_SHA256, digest, huge), check_result::malformed);
    // A point off the curve.
    std::vector<uint8_t> off_curve = p256.public_fields;
    off_curve.back() ^= 0x01;
    EXPECT_EQ(load_verify_key(PK_ECDSA, off_curve, none), check_result::malformed);
}

// An odd number of exactly bits bits, big-endian.
std::vector<uint8_t> number_of_bits(size_t bits) {
    std::vector<uint8_t> n((bits + 7) / 8, 0x5A);
    n[0] = static_cast<uint8_t>(1u << ((bits - 1) % 8));
    n.back() |= 1;
    return n;
}

std::vector<uint8_t> mpis(std::initializer_list<size_t> bit_lengths) {
    std::vector<uint8_t> fields;
    for (const size_t bits : bit_lengths)
        append_mpi(fields, number_of_bits(bits));
    return fields;
}

TEST(SignatureCheck, KeysLargerThanGpgAndOpensslVerifyWithAreRefused) {
    const struct {
        const char* name;
        uint8_t algorithm;
        std::vector<uint8_t> fields;
        check_result expected;
    } cases[] = {
        {"RSA, 16384-bit modulus", PK_RSA, mpis({16384, 17}), check_result::valid},
        {"RSA, 16385-bit modulus", PK_RSA, mpis({16385, 17}), check_result::key_size_refused},
        {"RSA sign-only, 16385-bit modulus", PK_RSA_SIGN_ONLY, mpis({16385, 17}),
         check_result::key_size_refused},
        {"RSA, 64-bit exponent", PK_RSA, mpis({2048, 64}), check_result::valid},
        {"RSA, 65-bit exponent", PK_RSA, mpis({2048, 65}), check_result::key_size_refused},
        {"RSA, 8000-bit exponent", PK_RSA, mpis({2048, 8000}), check_result::key_size_refused},
        {"DSA, 3072-bit p, 256-bit q", PK_DSA, mpis({3072, 256, 3071, 3071}), check_result::valid},
        {"DSA, 2048-bit p, 224-bit q", PK_DSA, mpis({2048, 224, 2047, 2047}), check_result::valid},
        {"DSA, 1024-bit p, 160-bit q", PK_DSA, mpis({1024, 160, 1023, 1023}), check_result::valid},
        {"DSA, 3073-bit p", PK_DSA, mpis({3073, 256, 3071, 3071}), check_result::key_size_refused},
        {"DSA, 8000-bit p", PK_DSA, mpis({8000, 256, 3071, 3071}), check_result::key_size_refused},
        {"DSA, 192-bit q", PK_DSA, mpis({2048, 192, 2047, 2047}), check_result::key_size_refused},
        {"DSA, 257-bit q", PK_DSA, mpis({2048, 257, 2047, 2047}), check_result::key_size_refused},
    };
    for (const auto& c : cases) {
        verify_key key;
        EXPECT_EQ(load_verify_key(c.algorithm, c.fields, key), c.expected) << c.name;
    }
}

} // namespace

// Self-signatures made by the real gpg, found with a minimal reader of its
// export: public key, user id, then the v4 signature on that user id.
namespace {

struct exported_key {
    std::vector<uint8_t> key_body;
    std::vector<uint8_t> user_id;
    std::vector<uint8_t> signature;
};

bool read_export(const std::vector<uint8_t>& data, exported_key& out) {
    size_t pos = 0;
    while (pos < data.size()) {
        const uint8_t ctb = data[pos++];
        if ((ctb & 0x80) == 0) return false;
        size_t tag;
        size_t length = 0;
        if ((ctb & 0x40) != 0) {
            tag = ctb & 0x3F;
            if (pos >= data.size()) return false;
            const uint8_t first = data[pos++];
            if (first < 192) {
                length = first;
            } else if (first < 224 && pos < data.size()) {
                length = ((first - 192u) << 8) + data[pos++] + 192;
            } else if (first == 255 && pos + 4 <= data.size()) {
                for (int i = 0; i < 4; ++i)
                    length = (length << 8) | data[pos++];
            } else {
                return false;
            }
        } else {
            tag = (ctb >> 2) & 0x0F;
            const size_t bytes = size_t{1} << (ctb & 3);
            if ((ctb & 3) == 3 || pos + bytes > data.size()) return false;
            for (size_t i = 0; i < bytes; ++i)
                length = (length << 8) | data[pos++];
        }
        if (length > data.size() - pos) return false;
        const std::vector<uint8_t> body(data.begin() + static_cast<ptrdiff_t>(pos),
                                        data.begin() + static_cast<ptrdiff_t>(pos + length));
        pos += length;
        if (tag == 6) out.key_body = body;
        if (tag == 13 && out.user_id.empty()) out.user_id = body;
        if (tag == 2 && !out.user_id.empty() && out.signature.empty()) out.signature = body;
    }
    return out.key_body.size() > 6 && !out.signature.empty();
}

int run_shell(const std::string& command) {
    // NOLINTNEXTLINE(cert-env33-c): gpg runs through sh on purpose
    return std::system(command.c_str());
}

void put_be(digest_context& context, uint64_t value, int bytes) {
    uint8_t buffer[4];
    for (int i = 0; i < bytes; ++i)
        buffer[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
    digest_update(context, std::span(buffer, static_cast<size_t>(bytes)));
}

TEST(SignatureCheck, VerifiesSelfSignaturesMadeByGpg) {
    if (run_shell("gpg --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "gpg is not installed";
    char home[] = "/tmp/signature_check_test.XXXXXX";
    ASSERT_NE(mkdtemp(home), nullptr);
    const std::string gpg = std::string("gpg --homedir ") + home + " --batch --quiet ";
    for (const char* algorithm : {"ed25519", "rsa2048"}) {
        SCOPED_TRACE(algorithm);
        const std::string uid =
            std::string("Test ") + algorithm + " <" + algorithm + "@example.org>";
        const std::string file = std::string(home) + "/" + algorithm + ".gpg";
        std::string command = gpg;
        command += "--passphrase '' --quick-generate-key '" + uid + "' ";
        command += algorithm;
        command += " sign never 2>/dev/null && " + gpg;
        command += "--export '" + uid + "' >";
        command += file;
        ASSERT_EQ(run_shell(command), 0) << command;
        std::vector<uint8_t> data;
        std::FILE* in = std::fopen(file.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        for (int c; (c = std::fgetc(in)) != EOF;)
            data.push_back(static_cast<uint8_t>(c));
        (void)std::fclose(in);
        exported_key key;
        ASSERT_TRUE(read_export(data, key));

        verify_key verifier;
        ASSERT_EQ(load_verify_key(key.key_body[5], std::span(key.key_body).subspan(6), verifier),
                  check_result::valid);
        const std::vector<uint8_t>& sig = key.signature;
        ASSERT_EQ(sig[0], 4);
        const size_t hashed_end = 6 + ((size_t{sig[4]} << 8) | sig[5]);
        const size_t unhashed_end =
            hashed_end + 2 + ((size_t{sig[hashed_end]} << 8) | sig[hashed_end + 1]);
        digest_context context;
        ASSERT_TRUE(digest_begin(context, sig[3]));
        put_be(context, 0x99, 1);
        put_be(context, key.key_body.size(), 2);
        digest_update(context, key.key_body);
        put_be(context, 0xB4, 1);
        put_be(context, key.user_id.size(), 4);
        digest_update(context, key.user_id);
        digest_update(context, std::span(sig).first(hashed_end));
        put_be(context, 0x04FF, 2);
        put_be(context, hashed_end, 4);
        const digest_value digest = digest_final(context);
        EXPECT_EQ(digest[0], sig[unhashed_end]);
        EXPECT_EQ(digest[1], sig[unhashed_end + 1]);
        std::vector<uint8_t> fields(sig.begin() + static_cast<ptrdiff_t>(unhashed_end + 2),
                                    sig.end());
        EXPECT_EQ(check_signature(verifier, sig[3], digest, fields), check_result::valid);
        fields.back() ^= 0x10;
        EXPECT_EQ(check_signature(verifier, sig[3], digest, fields), check_result::bad_signature);
    }
    // Cleaning up is best effort: a leftover directory in /tmp fails nothing.
    (void)run_shell(std::string("gpgconf --homedir ") + home + " --kill all 2>/dev/null; rm -rf " +
                    home);
}

} // namespace
