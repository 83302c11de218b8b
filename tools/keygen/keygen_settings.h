// The generator's settings record, filled once from the command line.
#pragma once

#include <cstdint>
#include <string>

struct keygen_settings {
    std::uint64_t seed = 1;
    std::uint64_t key_count = 1000;
    double mean_signatures = 5.6;  // signatures per key over the whole list
    double reciprocal = 0.5;       // chance that a signature is returned
    double tail_fraction = 0.40;   // keys hanging off the strong set
    double island_fraction = 0.25; // keys that the strong set cannot reach
    std::uint64_t max_chain = 12;  // longest chain of single signatures

    // Noise for parser tests; each is a probability per key or per record.
    double dup_keys = 0;        // a key's "p" record appears twice
    double dup_sigs = 0;        // an "s" record is written twice
    double self_sigs = 0;       // a key carries its own signature
    double unknown_signers = 0; // a signature names a key that has no "p" record
    double lower_case = 0;      // a record's id is written in lower case
    double low_collisions = 0;  // a key shares its id_low with another key
    double bad_records = 0;     // an unknown record type or a CR line end follows

    std::string output_path; // empty: standard output
    bool help = false;
    bool version = false;
};

// Fills settings from argv. On a bad command line returns false and puts a
// one-line reason into error.
bool parse_keygen_options(int argc, char** argv, keygen_settings& settings, std::string& error);

// The usage summary printed by -h.
const char* keygen_usage();
