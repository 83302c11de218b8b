// The decisions taken for one primary key of a gpg listing: which other keys
// certified one of its user ids, after self-signatures, revocations and (with
// a reference date) expired or later signatures are taken out.
#pragma once

#include <cstdint>
#include <vector>

// A time in seconds since the epoch; NO_TIME stands for an absent field.
constexpr int64_t NO_TIME = INT64_MIN;

// What a run keeps: with has_as_of, keys and certifications are judged as
// they stood at the time as_of (expired ones and later ones dropped).
struct keylist_rules {
    bool has_as_of = false;
    int64_t as_of = 0;
};

// Counters over a whole listing, for the summary of -v.
struct keylist_counts {
    uint64_t keys_read = 0;           // primary keys (pub/sec blocks) in the listing
    uint64_t keys_revoked = 0;        // primary keys left out as revoked
    uint64_t keys_expired = 0;        // left out as expired or not yet made at the date
    uint64_t certifications_seen = 0; // class 0x10-0x13 signatures on user ids
    uint64_t dropped_self = 0;        // made by the key itself
    uint64_t dropped_revoked = 0;     // revoked later by their signer
    uint64_t dropped_expired = 0;     // expired, or made after, the reference date
    uint64_t dropped_bad = 0;         // not verified: gpg's verdict other than "!", or our own
};

// One signature or revocation on the current user id, by its signer.
struct uid_event {
    uint64_t signer;
    int64_t created;
    bool revocation;
};

// The state of one primary key while its records are read.
struct key_block {
    uint64_t id = 0;
    bool revoked = false;
    bool expired = false; // at the reference date (only ever set with one)
    bool in_user_id = false;
    // The listing carries gpg's verdicts (--check-sigs): a "!", "-" or "%"
    // has been seen. Kept from one key to the next.
    bool verdicts = false;
    std::vector<uid_event> uid_events; // of the current user id
    std::vector<uint64_t> signers;     // certified some user id; unsorted, may repeat
};

// Starts a block for the primary key id. created and expires are the key's
// own times (NO_TIME when absent); revoked says whether gpg marks it revoked.
void start_key_block(key_block& block, uint64_t id, int64_t created, int64_t expires, bool revoked,
                     const keylist_rules& rules, keylist_counts& counts);

// A uid or uat record: certifications that follow are on this user id.
void start_user_id(key_block& block, keylist_counts& counts);

// A sub or ssb record: signatures that follow are on a subkey.
void start_subkey(key_block& block, keylist_counts& counts);

// A sig record. sig_class is the class byte; validity the first character of
// gpg's validity field (0 when empty). In a listing with verdicts
// (--check-sigs) only "!" (verified) counts: "-" (bad), "?" (not checkable)
// and "%" (refused, e.g. a weak digest) do not. A listing without verdicts
// (--list-sigs) marks the signatures by keys it does not hold with "?";
// those count there, as everything does.
void add_signature(key_block& block, uint64_t signer, unsigned sig_class, int64_t created,
                   int64_t expires, char validity, const keylist_rules& rules,
                   keylist_counts& counts);

// A rev record; validity as for add_signature (a revocation that did not
// verify revokes nothing).
void add_revocation(key_block& block, uint64_t signer, unsigned sig_class, int64_t created,
                    const keylist_rules& rules, keylist_counts& counts, char validity = '\0');

// Whether gpg's validity letter lets a signature count; notes a verdict.
bool verdict_counts(key_block& block, char validity);

// Ends the block: closes the last user id and leaves block.signers sorted by
// key id without repeats. Returns false when the key is left out entirely
// (revoked, or expired at the reference date).
bool finish_key_block(key_block& block, keylist_counts& counts);
