#include "openpgp_test_dump.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

test_key ed25519_test_key(uint8_t seed, uint32_t created) {
    std::array<uint8_t, 32> bytes_of_seed{};
    bytes_of_seed.fill(seed);
    signing_key key;
    if (!ed25519_key_from_seed(bytes_of_seed, key)) throw std::runtime_error("no Ed25519 key");
    return test_key_from(std::move(key), created);
}

test_key test_key_from(signing_key key, uint32_t created) {
    test_key k;
    k.key = std::move(key);
    k.body = public_key_body(created, k.key.algorithm, k.key.public_fields);
    k.fingerprint = key_fingerprint(k.body);
    k.created = created;
    k.id = key_id_of(k.fingerprint);
    char hex[17];
    (void)std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(k.id));
    k.hex_id = hex;
    return k;
}

signature_spec spec_by(const test_key& signer, uint8_t sig_class, uint32_t created) {
    signature_spec spec;
    spec.sig_class = sig_class;
    spec.created = created;
    spec.issuer_fingerprint = signer.fingerprint;
    return spec;
}

void add_key(bytes& dump, const test_key& key) {
    append_packet(dump, TAG_PUBLIC_KEY, key.body, true);
}

void add_user_id(bytes& dump, std::string_view text) {
    append_packet(dump, TAG_USER_ID, bytes(text.begin(), text.end()), true);
}

void add_signature(bytes& dump, const test_key& signer, const signature_spec& spec,
                   const test_key& key, std::string_view text, bool forged) {
    const bytes user_id(text.begin(), text.end());
    const bytes body =
        signature_body(signer.key, spec, signed_material{key.body, {}, user_id, false}, forged);
    if (body.empty()) throw std::runtime_error("signing failed");
    append_packet(dump, TAG_SIGNATURE, body, true);
}

scratch_dir::scratch_dir() {
    char name[] = "/tmp/keylist_test.XXXXXX";
    if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = name;
}

scratch_dir::~scratch_dir() {
    // Best effort: a leftover directory in /tmp fails nothing.
    if (keep) {
        std::fprintf(stderr, "kept %s\n", path.c_str());
        return;
    }
    (void)run_shell("gpgconf --homedir " + path + "/home --kill all 2>/dev/null; rm -rf " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

int run_shell(const std::string& command) {
    // NOLINTNEXTLINE(cert-env33-c): the programs under test run through sh on purpose
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

keylist_run run_keylist(const bytes& dump, const std::string& options) {
    const scratch_dir dir;
    write_file(dir.path + "/dump.pgp", dump);
    keylist_run run;
    run.status = run_shell(std::string(KORVALINDE_KEYLIST) + " -v " + options + " --names " +
                           dir.path + "/names -o " + dir.path + "/list " + dir.path +
                           "/dump.pgp 2>" + dir.path + "/errors");
    run.list = read_file(dir.path + "/list");
    run.names = read_file(dir.path + "/names");
    run.errors = read_file(dir.path + "/errors");
    return run;
}
