// OpenPGP key data read straight into a key list: transferable public keys
// are taken packet by packet (from openpgp_packets), each certification is
// hashed as it is read and verified at once when its signer has been read
// already (verify_pipeline.h), or kept until every key has been read (a
// signer may come after the keys it certified), and the keys are then
// replayed through the same rules as a gpg listing (key_block) into the key
// list table.
//
// Memory model: nothing of the input is held beyond the key block being read.
// Kept for the whole run are, per primary key, its fingerprint and public key
// material (about 40 bytes for Ed25519, 270 to 530 for RSA) and an entry of
// 32 bytes per place it appears; per user id, subkey and certification an
// event of 48 bytes; and per certification, revocation or self-revocation
// whose signer comes later in the input its digest, signature fields and
// issuer fingerprint (about 120 bytes for Ed25519 over SHA-256, 300 to 600
// for RSA); those whose signer came before are verified as they come, from
// a bounded queue. So a dump of 1,000,000 keys with 6,000,000 certifications
// by Ed25519 keys holds at most about 1.1 GB at its peak (when every signer
// comes last), whatever the size of the dump. Everything is kept in large
// chunks (no container that doubles and copies at that scale). One key block
// keeps at most USER_IDS_PER_KEY_MAX user ids and
// SIGNATURES_PER_KEY_MAX signatures, and user ids and subkeys without
// signatures cost nothing, so that packets flooding a key cannot make the
// run hold much more than the input's size.
// Self-signatures (and self-revocations of user ids) are kept and verified
// only when something needs them (--names or --as-of), with or without the
// verification of the rest: the primary user id and the key's expiration.
#pragma once

#include "key_block.h"
#include "key_list_table.h"
#include "openpgp_fields.h"
#include "signature_check.h"
#include "table_memory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct verdict_cache;

// Blobs of bytes in chunks of up to 64 MiB, addressed by a 64-bit handle.
struct byte_arena {
    std::vector<table_memory> chunks;
    size_t used = 0;       // in the last chunk
    size_t chunk_size = 0; // of the last chunk
    size_t held = 0;       // in all chunks
    static constexpr size_t CHUNK = size_t{64} << 20;
    static constexpr uint64_t NONE = UINT64_MAX;
};

// Copies the pieces one after another into the arena; returns their handle.
uint64_t arena_put(byte_arena& arena, std::initializer_list<std::span<const uint8_t>> pieces);
const uint8_t* arena_at(const byte_arena& arena, uint64_t handle);

// What became of a signature that is to be verified.
enum class verdict : uint8_t {
    pending,
    valid,
    bad_signature,
    signer_absent,
    unsupported_algorithm,
    unsupported_curve,
    unsupported_hash,
    malformed,
    weak_hash, // SHA-1 certification by another key made after 2019-01-19
    // Refused as gpg refuses them:
    key_size_refused,   // the signer's key is larger than anyone verifies with
    hash_too_short,     // DSA or ECDSA over a digest shorter than the key's order
    unknown_critical,   // a critical subpacket that is not understood
    algorithm_mismatch, // the signature names another algorithm than the signer's key
    predates_signer,    // made before the signer's key was
    count_
};

const char* verdict_name(verdict v);

enum class event_kind : uint8_t { user_id, subkey, certification, revocation, key_revocation };

// One thing in a key block that the rules look at, in the order read.
struct sig_event {
    uint64_t signer = 0; // key id; for a user id, the length of its stored text
    int64_t created = NO_TIME;
    int64_t expires = NO_TIME; // a self-certification: the key's lifetime instead
    uint64_t blob =
        byte_arena::NONE; // digest, issuer fingerprint, fields, algorithm; a user id's text
    uint16_t fields_size = 0;
    uint8_t digest_size = 0;
    event_kind kind = event_kind::user_id;
    uint8_t sig_class = 0;
    uint8_t hash_algorithm = 0;
    verdict result = verdict::valid;
    uint8_t flags = 0; // EVENT_*
};
constexpr uint8_t EVENT_ISSUER_FPR = 1;
constexpr uint8_t EVENT_PRIMARY_USER_ID = 2;

struct stored_key {
    fingerprint fpr{};
    uint8_t algorithm = 0;
    uint16_t material_size = 0;
    uint32_t first_block = 0; // where the key appears first
    uint32_t created = 0;
    uint64_t material = byte_arena::NONE;
    uint64_t name_event = byte_arena::NONE; // its primary user id (openpgp_names)
};

struct key_appearance {
    uint64_t id;
    int64_t created;
    uint64_t first_event;
    uint64_t end_event;
};

// What one key block may hold: user ids (and user attributes) beyond the
// first USER_IDS_PER_KEY_MAX, with their signatures, and signature packets
// beyond the first SIGNATURES_PER_KEY_MAX are counted and skipped. Real keys
// have at most a few hundred user ids and some tens of thousands of
// signatures; these bound what a flooded key can make the run hold.
constexpr uint32_t USER_IDS_PER_KEY_MAX = 4000;
constexpr uint32_t SIGNATURES_PER_KEY_MAX = 100000;

// Tallies for the -v summary.
struct openpgp_counts {
    uint64_t key_blocks = 0;
    uint64_t malformed_blocks = 0; // primary key packet unusable: block skipped
    uint64_t secret_blocks = 0;    // secret keys: skipped
    uint64_t stray_packets = 0;    // packets outside any key block
    uint64_t malformed_signatures = 0;
    uint64_t keys_over_limits = 0;   // key blocks with user ids or signatures skipped
    uint64_t skipped_user_ids = 0;   // over USER_IDS_PER_KEY_MAX
    uint64_t skipped_signatures = 0; // over SIGNATURES_PER_KEY_MAX, or on a skipped user id
    uint64_t verdicts[static_cast<size_t>(verdict::count_)] = {};
};

struct verify_pipeline; // verify_pipeline.h

struct openpgp_collection {
    keylist_rules rules;
    bool verify = true;
    bool keep_self_signatures = false; // for --names and --as-of
    int verbose = 0;
    std::string input_name; // for messages
    std::function<void(const std::string&)> warn;
    verdict_cache* cache = nullptr; // --cache: verdicts of earlier runs, and this run's

    byte_arena arena;
    chunked_list<stored_key> keys;
    key_index key_positions; // key id -> keys
    chunked_list<key_appearance> blocks;
    chunked_list<sig_event> events;
    openpgp_counts counts;
    // While set, a signature whose signer has been read already is queued
    // there to be verified at once; the others wait in the arena.
    verify_pipeline* pipeline = nullptr;
    uint64_t messages = 0; // -v warnings
    uint64_t notices = 0;  // warnings printed without -v

    // The key block being read. over_limit: after a user id skipped over
    // USER_IDS_PER_KEY_MAX, whose signatures are skipped with it.
    enum class place { none, skipping, key, user_id, subkey, over_limit };
    place where = place::none;
    uint32_t block_user_ids = 0;
    uint32_t block_signatures = 0;
    uint64_t block_skipped_user_ids = 0;
    uint64_t block_skipped_signatures = 0;
    uint64_t first_named_user_id = UINT64_MAX; // its event, for --names
    std::vector<uint8_t> key_body;
    public_key_packet key;
    std::vector<uint8_t> user_id;
    unsigned user_id_tag = 0;
    digest_context digest;
};

// Takes one packet of the input.
void take_openpgp_packet(openpgp_collection& c, unsigned tag, std::span<const uint8_t> body,
                         uint64_t offset);

// Ends the key block being read (at the end of an armored block, a framing
// error or the end of all input).
void end_openpgp_block(openpgp_collection& c);

// Reports a problem at offset of the current input (at -v; the first 1000).
void openpgp_warning(openpgp_collection& c, uint64_t offset, const std::string& what);

// Reports a loss of key data at offset of the current input, or about the
// whole input at NO_OFFSET, whether -v is given or not (the first 100).
constexpr uint64_t NO_OFFSET = UINT64_MAX;
void openpgp_notice(openpgp_collection& c, uint64_t offset, const std::string& what);

// A signer's key for verification, decoded from its material only when a
// signature needs it: with a verdict cache that answers, never.
struct signer_key {
    bool decoded = false;
    check_result loaded = check_result::malformed;
    verify_key key;
};

// The verdict on event e, whose digest, fields and named algorithm are at
// blob (laid out as in the arena), by the stored signer whose key material
// is at material (decoded into key when needed); stored is null when the
// signer is absent. The one place that decides a signature's verdict, for
// the pipeline and the rest; with a verdict cache it asks the cache before
// checking and records what the check found. An entry exists only for a
// key that decoded, so a hit means the decoding would succeed. It reads
// nothing the reader may still be adding to: the signature and the key
// material come by pointer.
verdict judge(const openpgp_collection& c, const sig_event& e, const uint8_t* blob,
              const uint8_t* material, const stored_key* stored, signer_key& key);

// A signature queued for verification while the input is read: its event
// (which gets the verdict), its signer with the signer's key material, and
// where its blob is among the queue's bytes.
struct queued_signature {
    sig_event* event;
    const stored_key* signer;
    const uint8_t* material;
    uint32_t signer_position; // in keys
    uint32_t blob;
};

// The signers' keys one verifying thread has decoded lately, by position in
// keys: a signer's key is decoded once for many of its signatures.
struct signer_key_cache {
    struct slot {
        uint32_t position = key_index::EMPTY;
        signer_key key;
    };
    std::vector<slot> slots = std::vector<slot>(4096);
};

// Verifies the queued signatures, whose blobs are at bytes, sets their
// verdicts and counts them into counts. Reads nothing of c that the reading
// changes, so it runs on any thread while the input is read.
void verify_queued(const openpgp_collection& c, std::span<const queued_signature> queue,
                   const uint8_t* bytes, signer_key_cache& cache, uint64_t counts[]);

// Verifies every pending signature on up to threads threads (at least one);
// progress, when set, is called now and then with the number done.
void verify_signatures(openpgp_collection& c, unsigned threads,
                       const std::function<void(uint64_t done, uint64_t total)>& progress);

// Replays every key block through the rules into the table.
void add_openpgp_keys(const openpgp_collection& c, key_list_table& table, keylist_counts& counts);
