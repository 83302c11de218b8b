#include "key_block.h"

#include "openpgp_constants.h"

#include <algorithm>

namespace {

// Settles the current user id: for each signer, a certification counts when
// it is newer than the signer's latest revocation on this user id (a
// revocation made at the same second or later revokes it).
void close_user_id(key_block& block, keylist_counts& counts) {
    std::vector<uid_event>& events = block.uid_events;
    if (events.empty()) return;
    std::sort(events.begin(), events.end(),
              [](const uid_event& a, const uid_event& b) { return a.signer < b.signer; });
    size_t start = 0;
    while (start < events.size()) {
        size_t end = start;
        int64_t latest_revocation = NO_TIME;
        bool revoked_at_all = false;
        while (end < events.size() && events[end].signer == events[start].signer) {
            if (events[end].revocation) {
                revoked_at_all = true;
                latest_revocation = std::max(latest_revocation, events[end].created);
            }
            ++end;
        }
        bool counts_here = false;
        for (size_t i = start; i < end; ++i) {
            if (events[i].revocation) continue;
            if (revoked_at_all && events[i].created <= latest_revocation)
                ++counts.dropped_revoked;
            else
                counts_here = true;
        }
        if (counts_here) block.signers.push_back(events[start].signer);
        start = end;
    }
    events.clear();
}

} // namespace

void start_key_block(key_block& block, uint64_t id, int64_t created, int64_t expires, bool revoked,
                     const keylist_rules& rules, keylist_counts& counts) {
    block.id = id;
    block.revoked = revoked;
    block.expired = rules.has_as_of && ((expires != NO_TIME && expires <= rules.as_of) ||
                                        (created != NO_TIME && created > rules.as_of));
    block.in_user_id = false;
    block.uid_events.clear();
    block.signers.clear();
    ++counts.keys_read;
}

void start_user_id(key_block& block, keylist_counts& counts) {
    close_user_id(block, counts);
    block.in_user_id = true;
}

void start_subkey(key_block& block, keylist_counts& counts) {
    close_user_id(block, counts);
    block.in_user_id = false;
}

void add_signature(key_block& block, uint64_t signer, unsigned sig_class, int64_t created,
                   int64_t expires, char validity, const keylist_rules& rules,
                   keylist_counts& counts) {
    if (validity == '!' || validity == '-' || validity == '%') block.verdicts = true;
    // Signatures straight on the key (direct-key) or on a subkey (bindings)
    // are not certifications of a holder's identity.
    if (!block.in_user_id || !is_certification(sig_class)) return;
    ++counts.certifications_seen;
    if (signer == block.id) {
        ++counts.dropped_self;
        return;
    }
    if (!verdict_counts(block, validity)) {
        ++counts.dropped_bad;
        return;
    }
    if (rules.has_as_of && ((expires != NO_TIME && expires <= rules.as_of) ||
                            (created != NO_TIME && created > rules.as_of))) {
        ++counts.dropped_expired;
        return;
    }
    block.uid_events.push_back({signer, created, false});
}

bool verdict_counts(key_block& block, char validity) {
    if (validity == '!' || validity == '-' || validity == '%') block.verdicts = true;
    if (validity == '?') return !block.verdicts;
    return validity != '-' && validity != '%';
}

void add_revocation(key_block& block, uint64_t signer, unsigned sig_class, int64_t created,
                    const keylist_rules& rules, keylist_counts& counts, char validity) {
    (void)counts;
    if (!verdict_counts(block, validity)) return;
    if (!block.in_user_id) {
        // A revocation on the key itself, made by the key: the key is revoked
        // even where gpg's validity letter does not say so.
        if (sig_class == SIG_KEY_REVOCATION && signer == block.id) block.revoked = true;
        return;
    }
    if (sig_class != SIG_CERTIFICATION_REVOCATION || signer == block.id) return;
    // At a reference date, a revocation made after it has not happened yet.
    if (rules.has_as_of && created != NO_TIME && created > rules.as_of) return;
    // A revocation without a date revokes every certification it answers.
    block.uid_events.push_back({signer, created == NO_TIME ? INT64_MAX : created, true});
}

bool finish_key_block(key_block& block, keylist_counts& counts) {
    close_user_id(block, counts);
    block.in_user_id = false;
    if (block.revoked) {
        ++counts.keys_revoked;
        block.signers.clear();
        return false;
    }
    if (block.expired) {
        ++counts.keys_expired;
        block.signers.clear();
        return false;
    }
    std::sort(block.signers.begin(), block.signers.end());
    block.signers.erase(std::unique(block.signers.begin(), block.signers.end()),
                        block.signers.end());
    return true;
}
