// Writes a dump in which one signer certifies COUNT keys (one certification
// each, whose first two digest bytes are right), for timing
// korvalinde-keylist on signers whose keys are costly to verify with
// (bench/keylist_costly_signers.sh). KIND:
//   ed25519, rsa2048   ordinary signers, valid certifications
//   rsa16384           the largest RSA accepted: 16384-bit modulus, 64-bit exponent
//   dsa3072            the largest DSA accepted: 3072-bit p, 256-bit q
//   rsa-exponent       3072-bit modulus, 3000-bit exponent (refused)
//   rsa-modulus        32768-bit modulus (refused)
//   dsa8000            8000-bit p (refused)
// The costly keys are made up (no private key needed, as for an attacker):
// their certifications fail only after the full verification.
// usage: costly_signer_dump KIND COUNT FILE
#include "openpgp_packets.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bytes number(size_t bytes_long, uint8_t top) {
    bytes n(bytes_long, 0xA7);
    n[0] = top;
    n.back() |= 1;
    return n;
}

// A made-up public key and the fields of a signature by it that passes
// every check before the verification itself.
bool made_up_signer(const std::string& kind, signing_key& key, bytes& fields) {
    if (kind == "rsa16384" || kind == "rsa-exponent" || kind == "rsa-modulus") {
        key.algorithm = 1;
        const size_t n_bytes = kind == "rsa16384" ? 2048 : kind == "rsa-modulus" ? 4096 : 384;
        append_mpi(key.public_fields, number(n_bytes, 0xC3));
        append_mpi(key.public_fields, kind == "rsa-exponent" ? number(375, 0xFF) : bytes(8, 0xFF));
        append_mpi(fields, number(n_bytes, 0x43)); // below the modulus
        return true;
    }
    if (kind == "dsa3072" || kind == "dsa8000") {
        key.algorithm = 17;
        const size_t p_bytes = kind == "dsa3072" ? 384 : 1000;
        append_mpi(key.public_fields, number(p_bytes, 0xE1));
        append_mpi(key.public_fields, number(32, 0xF1));
        append_mpi(key.public_fields, number(p_bytes, 0x51));
        append_mpi(key.public_fields, number(p_bytes, 0x61));
        append_mpi(fields, number(32, 0x71)); // r and s below q
        append_mpi(fields, number(32, 0x72));
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: costly_signer_dump KIND COUNT FILE\n", stderr);
        return 2;
    }
    const std::string kind = argv[1];
    const long count = std::strtol(argv[2], nullptr, 10);
    signing_key signer;
    bytes made_up_fields;
    const bool real = kind == "ed25519" || kind == "rsa2048";
    const bool made = kind == "ed25519"   ? generate_ed25519_key(signer)
                      : kind == "rsa2048" ? generate_rsa_key(2048, signer)
                                          : made_up_signer(kind, signer, made_up_fields);
    if (!made || count <= 0) {
        std::fprintf(stderr, "costly_signer_dump: unknown kind %s or bad count\n", argv[1]);
        return 2;
    }
    constexpr uint32_t created = 1500000000;
    const bytes signer_body = public_key_body(created, signer.algorithm, signer.public_fields);
    bytes dump;
    append_packet(dump, TAG_PUBLIC_KEY, signer_body, true);
    signature_spec spec;
    spec.created = created + 100;
    spec.issuer_fingerprint = key_fingerprint(signer_body);
    for (long i = 0; i < count; ++i) {
        std::array<uint8_t, 32> seed{};
        for (size_t b = 0; b < 8; ++b)
            seed[b] = static_cast<uint8_t>(static_cast<unsigned long>(i) >> (8 * b));
        signing_key target;
        if (!ed25519_key_from_seed(seed, target)) return 1;
        const bytes body = public_key_body(created, target.algorithm, target.public_fields);
        const std::string text = "Target " + std::to_string(i);
        const bytes user_id(text.begin(), text.end());
        append_packet(dump, TAG_PUBLIC_KEY, body, true);
        append_packet(dump, TAG_USER_ID, user_id, true);
        const signed_material material{body, {}, user_id, false};
        const bytes sig =
            real ? signature_body(signer, spec, material, false)
                 : signature_body_with_fields(signer.algorithm, spec, material, made_up_fields);
        if (sig.empty()) return 1;
        append_packet(dump, TAG_SIGNATURE, sig, true);
    }
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr || std::fwrite(dump.data(), 1, dump.size(), out) != dump.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
