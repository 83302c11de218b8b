// The OpenPGP dump generator's settings record, filled once from the command line.
#pragma once

#include "keygen_settings.h"

#include <cstdint>
#include <string>

struct pgpgen_settings {
    // The signature graph: seed, keys, mean signatures per key and its shape,
    // as in the key-list generator (its noise options stay off).
    keygen_settings graph;

    std::string output_path; // a file, or a directory when output_is_directory
    bool output_is_directory = false;
    unsigned files = 4; // files written into a directory
    bool armor = false;
    std::string expect_path; // the key list korvalinde-keylist should make
    std::string expect_names_path;
    std::string manifest_path; // every signature with what it is meant to be
    std::string key_pool_path; // private keys for the RSA, DSA and ECDSA shares
    std::string make_key_pool; // writes a fresh key pool there and stops
    unsigned threads = 0;      // 0: the online processors

    // Shares of primary keys by algorithm; the rest are Ed25519.
    double rsa2048 = 0.01;
    double rsa4096 = 0.002;
    double dsa = 0.005;
    double ecdsa = 0.01;

    // Noise: probabilities per key.
    double forged = 0.03;              // a certification whose signature does not verify
    double forged_revocations = 0.03;  // a certification revocation that does not verify
    double outsiders = 0.03;           // a certification by a key not in the dump
    double revoked_keys = 0.01;        // a valid self-revocation
    double revoked_certs = 0.02;       // a certification revoked by its signer
    double expired_keys = 0.02;        // a key expiration time long past
    double expired_sigs = 0.02;        // per certification: an expiration time long past
    double subkeys = 0.3;              // an encryption subkey with its binding
    double user_attributes = 0.02;     // a photo id, certified like a user id
    double second_uids = 0.1;          // a second user id
    double unknown_algorithms = 0.002; // a primary key of an algorithm nobody implements
    double md5 = 0.01;                 // a certification hashed with MD5
    double fingerprint_only = 0.1;     // per signature: issuer named by fingerprint only
    double junk = 0.001;               // bytes that are no packet, before the key
    double split = 0.001;              // part of the key repeated later, in another file

    // A later state of the same dump: per key, the chance of one certification
    // more than the dump of the same seed without it has (everything else
    // stays byte for byte the same).
    double new_certifications = 0;

    bool help = false;
    bool version = false;
};

bool parse_pgpgen_options(int argc, char** argv, pgpgen_settings& settings, std::string& error);
const char* pgpgen_usage();
