// Certifications that gpg refuses, read directly and through gpg's own
// checked listing of the same dump: the two key lists must be the same but
// for the two cases marked below.
// And signers whose keys are too large to verify with at a bounded cost.
#include "openpgp_test_dump.h"

#include <openssl/pem.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

namespace {

constexpr uint32_t T0 = 1500000000;

// A key of the given OpenPGP algorithm from the generator's committed pool.
signing_key pool_key(uint8_t algorithm) {
    std::FILE* file = std::fopen(PGPGEN_KEY_POOL, "r");
    signing_key key;
    if (file == nullptr) return key;
    while (EVP_PKEY* pkey = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr))
        if (signing_key_from_private(pkey, key) && key.algorithm == algorithm) break;
    (void)std::fclose(file); // read only
    return key;
}

// One target key per case, with a certification of its user id.
struct verdict_case {
    const char* name;
    const test_key* signer;
    std::function<void(signature_spec&)> adjust;
    bool counts;
    // gpg 2.2 counts these two although the signature cannot be what it
    // says: it names another algorithm than its key's, or it is dated
    // before its key existed.
    bool gpg_counts_anyway = false;
};

void add_target(bytes& dump, const test_key& target, const std::string& text) {
    add_key(dump, target);
    add_user_id(dump, text);
    signature_spec spec = spec_by(target, 0x13, target.created);
    spec.hash_algorithm = 10; // SHA-512 suits every key
    add_signature(dump, target, spec, target, text);
}

bytes subpacket(uint8_t type, std::string_view data) {
    bytes out(data.size() + 2);
    out[0] = static_cast<uint8_t>(data.size() + 1);
    out[1] = type;
    std::copy(data.begin(), data.end(), out.begin() + 2);
    return out;
}

bytes notation(std::string_view name, bool critical) {
    std::string data("\x80\0\0\0", 4);
    data += static_cast<char>(name.size() >> 8);
    data += static_cast<char>(name.size());
    data += std::string("\0\1", 2);
    data += name;
    data += "v";
    return subpacket(critical ? 0x94 : 20, data);
}

TEST(OpenpgpVerdicts, CertificationsGpgRefusesDoNotCount) {
    std::vector<test_key> signers;
    signers.push_back(ed25519_test_key(1, T0));
    signers.push_back(ed25519_test_key(2, T0 + 1000)); // made after some certifications
    signing_key p384;
    ASSERT_TRUE(generate_ecdsa_key("P-384", p384));
    signers.push_back(test_key_from(std::move(p384), T0));
    signing_key dsa = pool_key(17); // 2048-bit p, 256-bit q
    ASSERT_NE(dsa.pkey, nullptr);
    signers.push_back(test_key_from(std::move(dsa), T0));
    const test_key& ed = signers[0];
    const auto hashed = [](const bytes& extra) {
        return [extra](signature_spec& s) { s.extra_hashed = extra; };
    };
    const auto hash = [](uint8_t h) { return [h](signature_spec& s) { s.hash_algorithm = h; }; };
    const std::vector<verdict_case> cases = {
        {"an ordinary certification", &ed, [](signature_spec&) {}, true},
        {"an unknown critical subpacket", &ed, hashed(subpacket(0x80 | 100, "x")), false},
        {"an unknown subpacket, not critical", &ed, hashed(subpacket(100, "x")), true},
        {"a critical notation of an unknown name", &ed, hashed(notation("x@example.org", true)),
         false},
        {"the same notation, not critical", &ed, hashed(notation("x@example.org", false)), true},
        {"a critical notation gpg knows", &ed,
         hashed(notation("preferred-email-encoding@pgp.com", true)), true},
        {"a critical policy URI", &ed, hashed(subpacket(0x80 | 26, "https://example.org")), true},
        {"ECDSA P-384 over SHA-256", &signers[2], hash(8), false},
        {"ECDSA P-384 over SHA-384", &signers[2], hash(9), true},
        {"DSA with a 256-bit q over SHA-224", &signers[3], hash(11), false},
        {"DSA with a 256-bit q over SHA-256", &signers[3], hash(8), true},
        {"an EdDSA signature said to be ECDSA", &ed,
         [](signature_spec& s) { s.named_algorithm = 19; }, false, true},
        {"made before its signer's key", &signers[1],
         [](signature_spec& s) { s.created = T0 + 500; }, false, true},
        {"made at its signer's key's second", &signers[1],
         [](signature_spec& s) { s.created = T0 + 1000; }, true},
        // Revoked at T0 + 200 (below): the first creation time is the one.
        {"two creation times, the first before the revocation", &ed,
         hashed(subpacket(2, std::string("\x59\x68\x2F\x00", 4) /* T0 + 1000000 */)), false},
    };
    bytes dump;
    for (size_t i = 0; i < signers.size(); ++i)
        add_target(dump, signers[i], "Signer " + std::to_string(i));
    std::string expected;
    std::string expected_from_gpg;
    for (size_t i = 0; i < cases.size(); ++i) {
        const verdict_case& c = cases[i];
        SCOPED_TRACE(c.name);
        const test_key target = ed25519_test_key(static_cast<uint8_t>(100 + i), T0);
        const std::string text = "Target " + std::to_string(i);
        add_target(dump, target, text);
        signature_spec spec = spec_by(*c.signer, 0x10, T0 + 100);
        c.adjust(spec);
        add_signature(dump, *c.signer, spec, target, text);
        if (i + 1 == cases.size())
            add_signature(dump, *c.signer, spec_by(*c.signer, 0x30, T0 + 200), target, text);
        const std::string records = "p" + target.hex_id + "\ns" + c.signer->hex_id + "\n";
        if (c.counts) expected += records;
        if (c.counts || c.gpg_counts_anyway) expected_from_gpg += records;
    }
    const keylist_run direct = run_keylist(dump);
    ASSERT_EQ(direct.status, 0) << direct.errors;
    EXPECT_EQ(direct.list, expected);
    for (const char* tally :
         {"2 unknown critical subpacket", "1 algorithm not the signer's",
          "2 hash too short for the signer's key", "1 made before the signer's key"})
        EXPECT_NE(direct.errors.find(tally), std::string::npos) << tally << "\n" << direct.errors;

    if (run_shell("gpg --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "gpg is not installed";
    const scratch_dir dir;
    const std::string home = dir.path + "/home";
    write_file(dir.path + "/dump.pgp", dump);
    const std::string gpg = "gpg --homedir " + home + " --batch --quiet ";
    ASSERT_EQ(run_shell("mkdir -m 700 " + home + " && " + gpg + "--import " + dir.path +
                        "/dump.pgp 2>/dev/null; " + gpg +
                        "--with-colons --fixed-list-mode --check-sigs >" + dir.path +
                        "/listing 2>/dev/null; " + KORVALINDE_KEYLIST + " " + dir.path +
                        "/listing >" + dir.path + "/via-gpg"),
              0);
    EXPECT_EQ(read_file(dir.path + "/via-gpg"), expected_from_gpg)
        << read_file(dir.path + "/listing");
}

TEST(OpenpgpVerdicts, SignersTooLargeToVerifyWithDoNotCount) {
    // A real RSA key whose public exponent has 100 bits: its signatures are
    // valid, but every check with it costs as much as a 100-bit exponent does.
    const std::vector<uint8_t> exponent(13, 0xFF);
    signing_key rsa;
    ASSERT_TRUE(generate_rsa_key_with_exponent(2048, exponent, rsa));
    // Keys nobody holds: a 16,392-bit modulus and a 4,096-bit DSA p.
    signing_key big_rsa;
    big_rsa.algorithm = 1;
    append_mpi(big_rsa.public_fields, std::vector<uint8_t>(2049, 0xC3));
    append_mpi(big_rsa.public_fields, std::vector<uint8_t>{1, 0, 1});
    signing_key big_dsa;
    big_dsa.algorithm = 17;
    for (const size_t size : {512, 32, 511, 511})
        append_mpi(big_dsa.public_fields, std::vector<uint8_t>(size, 0xA5));
    std::vector<test_key> signers;
    signers.push_back(test_key_from(std::move(rsa), T0));
    signers.push_back(test_key_from(std::move(big_rsa), T0));
    signers.push_back(test_key_from(std::move(big_dsa), T0));
    const test_key target = ed25519_test_key(7, T0);
    bytes dump;
    add_target(dump, target, "Target");
    const bytes text = {'T', 'a', 'r', 'g', 'e', 't'};
    for (const test_key& signer : signers) {
        add_key(dump, signer);
        const signature_spec spec = spec_by(signer, 0x10, T0 + 100);
        const signed_material material{target.body, {}, text, false};
        const bytes body = signer.key.pkey != nullptr
                               ? signature_body(signer.key, spec, material, false)
                               : unverifiable_signature_body(signer.key.algorithm, spec, material);
        // The certification goes on the target's user id: the target's block
        // again, after the signer's key.
        add_key(dump, target);
        add_user_id(dump, "Target");
        append_packet(dump, TAG_SIGNATURE, body, true);
    }
    const keylist_run run = run_keylist(dump);
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.list, "");
    EXPECT_NE(run.errors.find("3 signer's key size refused"), std::string::npos) << run.errors;
}

} // namespace
