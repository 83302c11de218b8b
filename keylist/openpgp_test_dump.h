// Small OpenPGP dumps made for the tests with the generator's packet and
// signing code, and a run of the built korvalinde-keylist over one.
#pragma once

// The generator's packet writer (keylist/ has a reader of the same name).
#include "../tools/pgpgen/openpgp_packets.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A primary key with what signing with it needs.
struct test_key {
    signing_key key;
    bytes body; // public-key packet body
    std::array<uint8_t, 20> fingerprint{};
    uint64_t id = 0;
    std::string hex_id; // 16 upper-case digits
    uint32_t created = 0;
};

// An Ed25519 key from a one-byte seed (the same seed, the same key).
test_key ed25519_test_key(uint8_t seed, uint32_t created);
// Any other key pair, taken over.
test_key test_key_from(signing_key key, uint32_t created);

// A signature spec for a signature by signer made at created.
signature_spec spec_by(const test_key& signer, uint8_t sig_class, uint32_t created);

// Packets appended to a dump.
void add_key(bytes& dump, const test_key& key);
void add_user_id(bytes& dump, std::string_view text);
// A signature by signer over key and user id text; forged: one bit flipped.
void add_signature(bytes& dump, const test_key& signer, const signature_spec& spec,
                   const test_key& key, std::string_view text, bool forged = false);

// What a run of korvalinde-keylist gave.
struct keylist_run {
    int status = -1;
    std::string list;   // standard output
    std::string names;  // the --names file
    std::string errors; // standard error
};

// Writes dump to a scratch file and runs korvalinde-keylist -v --names over
// it with the options given (words separated by spaces).
keylist_run run_keylist(const bytes& dump, const std::string& options = "");

// A scratch directory, removed (with a gpg agent started in it) at the end.
struct scratch_dir {
    std::string path;
    bool keep = false; // left in place, to look at after a failure
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const bytes& data);
int run_shell(const std::string& command);
