// Reads korvalinde-keylist's inputs into the key list table: each input is
// recognised from its first bytes as binary OpenPGP key data (keyrings,
// keyserver dumps), ASCII-armored key blocks, or a gpg colon listing, and
// streamed in large blocks (never loaded whole). All inputs form one
// collection: a key met again is merged into its first place.
//
// Listings go into the table as they are read; OpenPGP keys are collected
// (openpgp_collection), their signatures verified while the inputs are read
// (those whose signer comes later once all are read), and then replayed
// into the table, so with both kinds of input the keys of the listings take
// the first places.
#pragma once

#include "key_block.h"
#include "key_list_table.h"
#include "keylist_options.h"
#include "openpgp_collection.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

enum class input_kind { openpgp_binary, openpgp_armored, listing, empty };

// The kind of an input from its first bytes.
input_kind detect_input_kind(std::span<const uint8_t> start);

struct keylist_reading {
    key_list_table table;
    keylist_counts counts;
    openpgp_collection openpgp;
    std::unordered_map<uint64_t, std::string> listing_user_ids; // with --names: raw, first
    uint64_t armor_errors = 0;
    uint64_t framing_errors = 0;
    uint64_t junk_bytes = 0;
    uint64_t oversized_packets = 0;
    uint64_t cut_off_packets = 0; // by the end of an input
};

// Reads every input, verifying on settings.threads threads as it goes, and
// fills reading.table, with a progress display (progress.h) on a terminal.
// Returns false after reporting an input that cannot be read or holds
// neither keys nor a listing.
bool read_keylist_inputs(const keylist_settings& settings, keylist_reading& reading);

// Writes the names file (see common/names_file.h) through write: a line for
// every key the table lists and every signer of one whose user id the input
// holds, in ascending order of key id. Returns false as soon as write does.
bool write_names(const keylist_reading& reading,
                 const std::function<bool(const char*, size_t)>& write);

// The -v lines about OpenPGP input and verification.
void print_openpgp_summary(const keylist_reading& reading);
