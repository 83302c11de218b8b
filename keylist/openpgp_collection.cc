#include "openpgp_collection.h"

#include "start_threads.h"
#include "verdict_cache.h"
#include "verify_pipeline.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// SHA-1 certifications by other keys made after this time do not count
// (2019-01-19 00:00:00 UTC): SHA-1 collisions make them forgeable.
constexpr int64_t SHA1_CERTIFICATION_CUTOFF = 1547856000;
// Larger signature fields or key material than any real key has (RSA with a
// 16384-bit modulus fits) are refused rather than kept.
constexpr size_t FIELDS_MAX = 4200;
constexpr size_t MATERIAL_MAX = 4200;
// A user id is kept for --names up to this length.
constexpr size_t USER_ID_KEPT = 1024;
constexpr uint64_t MESSAGES_MAX = 1000;
constexpr uint64_t NOTICES_MAX = 100;

void add_verdict(openpgp_counts& counts, verdict v) {
    ++counts.verdicts[static_cast<size_t>(v)];
}

// Hashes what sig covers for the key block being read into d. Returns the
// verdict when it is known already, otherwise pending.
verdict digest_signature(openpgp_collection& c, const signature_packet& sig, bool over_user_id,
                         digest_value& d) {
    if (sig.fields.size() > FIELDS_MAX) return verdict::malformed;
    if (!digest_begin(c.digest, static_cast<uint8_t>(sig.hash_algorithm)))
        return verdict::unsupported_hash;
    const std::array<uint8_t, 3> kp = key_prefix(c.key_body.size());
    digest_update(c.digest, kp);
    digest_update(c.digest, c.key_body);
    if (over_user_id) {
        if (sig.version == SIG_VERSION_4) {
            const std::array<uint8_t, 5> up = user_id_prefix(c.user_id_tag, c.user_id.size());
            digest_update(c.digest, up);
        }
        digest_update(c.digest, c.user_id);
    }
    digest_update(c.digest, sig.hashed);
    std::array<uint8_t, 6> trailer{};
    const size_t trailer_size = signature_trailer(sig, trailer);
    digest_update(c.digest, std::span<const uint8_t>(trailer.data(), trailer_size));
    d = digest_final(c.digest);
    // The two bytes every signature carries in clear: a mismatch is a bad
    // signature without any public-key work.
    if (d.size() < 2 || d[0] != sig.left16[0] || d[1] != sig.left16[1])
        return verdict::bad_signature;
    return verdict::pending;
}

// Adds a signature still to be verified: what its verification needs goes to
// the pipeline when its signer has been read already (and one runs), else
// into the arena until every key is read.
void keep_for_verification(openpgp_collection& c, const signature_packet& sig,
                           const digest_value& d, sig_event& event) {
    const std::span<const uint8_t> digest(d.data(), d.size());
    const std::span<const uint8_t> fpr =
        sig.has_issuer_fpr ? std::span<const uint8_t>(sig.issuer_fpr) : std::span<const uint8_t>();
    const uint8_t algorithm = static_cast<uint8_t>(sig.pub_algorithm);
    event.digest_size = static_cast<uint8_t>(d.size());
    event.fields_size = static_cast<uint16_t>(sig.fields.size());
    if (sig.has_issuer_fpr) event.flags |= EVENT_ISSUER_FPR;
    const uint32_t signer =
        c.pipeline == nullptr ? key_index::EMPTY : find_position(c.key_positions, event.signer);
    if (signer == key_index::EMPTY) {
        event.blob = arena_put(c.arena, {digest, fpr, sig.fields, std::span(&algorithm, 1)});
        c.events.push_back(event);
        return;
    }
    sig_event& kept = c.events.push_back(event);
    const stored_key& key = c.keys[signer];
    queue_signature(*c.pipeline, {&kept, &key, arena_at(c.arena, key.material), signer, 0},
                    {digest, fpr, sig.fields, std::span(&algorithm, 1)});
}

void take_signature(openpgp_collection& c, std::span<const uint8_t> body, uint64_t offset) {
    using place = openpgp_collection::place;
    signature_packet sig;
    if (const char* what = parse_signature(body, sig)) {
        ++c.counts.malformed_signatures;
        openpgp_warning(c, offset, what);
        return;
    }
    sig_event event;
    digest_value d;
    event.sig_class = static_cast<uint8_t>(sig.sig_class);
    event.hash_algorithm = static_cast<uint8_t>(sig.hash_algorithm);
    event.created = sig.created;
    event.expires = sig.expires;
    event.signer = sig.issuer;
    bool over_user_id = true;
    bool self = sig.issuer == c.key.key_id;
    if (c.where == place::key && sig.sig_class == SIG_KEY_REVOCATION) {
        // Only the key itself revokes it here; without an issuer the
        // signature can only be the key's own (it is checked against it).
        if (sig.issuer == 0) event.signer = c.key.key_id;
        if (event.signer != c.key.key_id) return;
        event.kind = event_kind::key_revocation;
        over_user_id = false;
        self = true;
    } else if (c.where == place::user_id && is_certification(sig.sig_class)) {
        event.kind = event_kind::certification;
        if (self) {
            event.expires = sig.key_lifetime;
            if (sig.primary_user_id) event.flags |= EVENT_PRIMARY_USER_ID;
        }
    } else if (c.where == place::user_id && sig.sig_class == SIG_CERTIFICATION_REVOCATION) {
        // The key's revocation of its own user id only matters to its name.
        if (self && !c.keep_self_signatures) return;
        event.kind = event_kind::revocation;
    } else {
        return; // on a subkey, directly on the key, or of a class the rules ignore
    }
    // Self-signatures on user ids are never looked at unless the name or the
    // key's expiration is needed (they count nowhere else); then they are
    // verified even without verification of the rest, as an unverified
    // self-signature says nothing about which user id the key holder wrote.
    // Unverified, everything else counts.
    const bool on_own_user_id = self && event.kind != event_kind::key_revocation;
    const bool unchecked = on_own_user_id ? !c.keep_self_signatures : !c.verify;
    if (unchecked) {
        event.result = verdict::valid;
    } else if (!self && is_certification(sig.sig_class) && sig.hash_algorithm == HASH_SHA1 &&
               sig.created > SHA1_CERTIFICATION_CUTOFF) {
        event.result = verdict::weak_hash;
    } else if (sig.issuer == 0 && event.kind != event_kind::key_revocation) {
        event.result = verdict::signer_absent;
    } else if (sig.unknown_critical) {
        event.result = verdict::unknown_critical;
    } else {
        event.result = digest_signature(c, sig, over_user_id, d);
    }
    if (event.result != verdict::pending && event.result != verdict::valid)
        add_verdict(c.counts, event.result);
    else if (event.result == verdict::valid && !c.verify)
        add_verdict(c.counts, verdict::valid);
    if (event.result == verdict::pending)
        keep_for_verification(c, sig, d, event);
    else
        c.events.push_back(event);
}

// Adds a user id or subkey event to the key block being read. A user id with
// nothing after it (no signature) up to the next user id or subkey changes
// nothing for the key list, nor for --names unless it is the key's first
// named user id: the new event takes its place, and a subkey right after a
// subkey is left out the same way. So user id and subkey packets without
// signatures (a flood of empty ones) take no memory.
void add_structure_event(openpgp_collection& c, const sig_event& event) {
    if (c.events.size() > c.blocks.back().first_event) {
        sig_event& last = c.events.back();
        if (last.kind == event_kind::subkey && event.kind == event_kind::subkey) return;
        if (last.kind == event_kind::user_id && c.events.size() - 1 != c.first_named_user_id) {
            last = event;
            if (event.blob != byte_arena::NONE && c.first_named_user_id == UINT64_MAX)
                c.first_named_user_id = c.events.size() - 1;
            return;
        }
    }
    c.events.push_back(event);
    if (event.blob != byte_arena::NONE && c.first_named_user_id == UINT64_MAX)
        c.first_named_user_id = c.events.size() - 1;
}

void start_block(openpgp_collection& c, std::span<const uint8_t> body, uint64_t offset) {
    using place = openpgp_collection::place;
    end_openpgp_block(c);
    ++c.counts.key_blocks;
    c.key_body.assign(body.begin(), body.end());
    if (const char* what = parse_public_key(c.key_body, c.key)) {
        ++c.counts.malformed_blocks;
        openpgp_warning(c, offset, std::string(what) + "; key skipped");
        c.where = place::skipping;
        return;
    }
    if (c.key.material.size() > MATERIAL_MAX) {
        ++c.counts.malformed_blocks;
        openpgp_warning(c, offset, "key material too large; key skipped");
        c.where = place::skipping;
        return;
    }
    const uint32_t block_number = static_cast<uint32_t>(c.blocks.size());
    if (find_position(c.key_positions, c.key.key_id) == key_index::EMPTY) {
        stored_key k;
        k.fpr = c.key.fpr;
        k.algorithm = static_cast<uint8_t>(c.key.algorithm);
        k.material_size = static_cast<uint16_t>(c.key.material.size());
        k.material = arena_put(c.arena, {c.key.material});
        k.first_block = block_number;
        k.created = static_cast<uint32_t>(c.key.created);
        insert_position(c.key_positions, c.key.key_id, static_cast<uint32_t>(c.keys.size()));
        c.keys.push_back(k);
    }
    c.blocks.push_back({c.key.key_id, c.key.created, c.events.size(), c.events.size()});
    c.where = place::key;
}

} // namespace

uint64_t arena_put(byte_arena& arena, std::initializer_list<std::span<const uint8_t>> pieces) {
    size_t total = 0;
    for (const auto& p : pieces)
        total += p.size();
    if (arena.chunks.empty() || arena.chunk_size - arena.used < total) {
        // Chunks grow with what is held (a small input touches little of
        // its first), up to byte_arena::CHUNK.
        const size_t next = std::min(byte_arena::CHUNK, std::max<size_t>(2 << 20, arena.held));
        arena.chunks.emplace_back(std::max(total, next), !arena.chunks.empty());
        arena.chunk_size = arena.chunks.back().bytes;
        arena.held += arena.chunk_size;
        arena.used = 0;
    }
    const uint64_t handle = uint64_t{arena.chunks.size() - 1} << 32 | arena.used;
    uint8_t* at = static_cast<uint8_t*>(arena.chunks.back().at) + arena.used;
    for (const auto& p : pieces) {
        if (!p.empty()) std::memcpy(at, p.data(), p.size());
        at += p.size();
    }
    arena.used += total;
    return handle;
}

const uint8_t* arena_at(const byte_arena& arena, uint64_t handle) {
    return static_cast<const uint8_t*>(arena.chunks[handle >> 32].at) + (handle & 0xFFFFFFFFu);
}

const char* verdict_name(verdict v) {
    switch (v) {
    case verdict::pending:
        return "not checked";
    case verdict::valid:
        return "valid";
    case verdict::bad_signature:
        return "bad signature";
    case verdict::signer_absent:
        return "signer not in the input";
    case verdict::unsupported_algorithm:
        return "unsupported algorithm";
    case verdict::unsupported_curve:
        return "unsupported curve";
    case verdict::unsupported_hash:
        return "unsupported hash";
    case verdict::malformed:
        return "malformed";
    case verdict::weak_hash:
        return "SHA-1 after 2019-01-19";
    case verdict::key_size_refused:
        return "signer's key size refused";
    case verdict::hash_too_short:
        return "hash too short for the signer's key";
    case verdict::unknown_critical:
        return "unknown critical subpacket";
    case verdict::algorithm_mismatch:
        return "algorithm not the signer's";
    case verdict::predates_signer:
        return "made before the signer's key";
    case verdict::count_:
        break;
    }
    return "?";
}

void openpgp_warning(openpgp_collection& c, uint64_t offset, const std::string& what) {
    if (c.verbose == 0 || !c.warn) return;
    ++c.messages;
    if (c.messages > MESSAGES_MAX) return;
    std::string line = c.input_name + ": offset " + std::to_string(offset) + ": " + what;
    if (c.messages == MESSAGES_MAX) line += " (further messages left out)";
    c.warn(line);
}

void openpgp_notice(openpgp_collection& c, uint64_t offset, const std::string& what) {
    if (!c.warn) return;
    ++c.notices;
    if (c.notices > NOTICES_MAX) return;
    std::string line = c.input_name + ": ";
    if (offset != NO_OFFSET) line += "offset " + std::to_string(offset) + ": ";
    line += what;
    if (c.notices == NOTICES_MAX) line += " (further warnings left out; -v counts them)";
    c.warn(line);
}

void take_openpgp_packet(openpgp_collection& c, unsigned tag, std::span<const uint8_t> body,
                         uint64_t offset) {
    using place = openpgp_collection::place;
    switch (tag) {
    case TAG_PUBLIC_KEY:
        start_block(c, body, offset);
        return;
    case TAG_SECRET_KEY:
        end_openpgp_block(c);
        ++c.counts.secret_blocks;
        openpgp_warning(c, offset, "secret key skipped");
        c.where = place::skipping;
        return;
    default:
        break;
    }
    if (c.where == place::skipping) return;
    if (c.where == place::none) {
        ++c.counts.stray_packets;
        return;
    }
    switch (tag) {
    case TAG_USER_ID:
    case TAG_USER_ATTRIBUTE: {
        if (c.block_user_ids >= USER_IDS_PER_KEY_MAX) {
            ++c.block_skipped_user_ids;
            c.where = place::over_limit;
            break;
        }
        ++c.block_user_ids;
        c.user_id.assign(body.begin(), body.end());
        c.user_id_tag = tag;
        c.where = place::user_id;
        sig_event event;
        event.kind = event_kind::user_id;
        if (c.keep_self_signatures && tag == TAG_USER_ID) {
            const size_t kept = std::min(body.size(), USER_ID_KEPT);
            event.blob = arena_put(c.arena, {body.subspan(0, kept)});
            event.signer = kept;
        }
        add_structure_event(c, event);
        break;
    }
    case TAG_PUBLIC_SUBKEY:
    case TAG_SECRET_SUBKEY: {
        c.where = place::subkey;
        sig_event event;
        event.kind = event_kind::subkey;
        add_structure_event(c, event);
        break;
    }
    case TAG_SIGNATURE:
        if (c.where == place::over_limit || c.block_signatures >= SIGNATURES_PER_KEY_MAX) {
            ++c.block_skipped_signatures;
            break;
        }
        ++c.block_signatures;
        take_signature(c, body, offset);
        break;
    default:
        break; // trust packets and anything newer: nothing for the rules
    }
    c.blocks.back().end_event = c.events.size();
}

void end_openpgp_block(openpgp_collection& c) {
    if (c.block_skipped_user_ids > 0 || c.block_skipped_signatures > 0) {
        static const char digits[] = "0123456789ABCDEF";
        std::string id;
        for (int i = 0; i < 16; ++i)
            id.push_back(digits[(c.key.key_id >> (60 - 4 * i)) & 0xF]);
        openpgp_notice(c, NO_OFFSET,
                       "key " + id + ": " + std::to_string(c.block_skipped_user_ids) +
                           " user ids and " + std::to_string(c.block_skipped_signatures) +
                           " signatures over the limits of " +
                           std::to_string(USER_IDS_PER_KEY_MAX) + " user ids and " +
                           std::to_string(SIGNATURES_PER_KEY_MAX) + " signatures skipped");
        ++c.counts.keys_over_limits;
        c.counts.skipped_user_ids += c.block_skipped_user_ids;
        c.counts.skipped_signatures += c.block_skipped_signatures;
    }
    c.block_user_ids = 0;
    c.block_signatures = 0;
    c.block_skipped_user_ids = 0;
    c.block_skipped_signatures = 0;
    c.first_named_user_id = UINT64_MAX;
    c.where = openpgp_collection::place::none;
}

namespace {

verdict verdict_of(check_result r) {
    switch (r) {
    case check_result::valid:
        return verdict::valid;
    case check_result::bad_signature:
        return verdict::bad_signature;
    case check_result::unsupported_algorithm:
        return verdict::unsupported_algorithm;
    case check_result::unsupported_curve:
        return verdict::unsupported_curve;
    case check_result::unsupported_hash:
        return verdict::unsupported_hash;
    case check_result::key_size_refused:
        return verdict::key_size_refused;
    case check_result::hash_too_short:
        return verdict::hash_too_short;
    case check_result::malformed:
        break;
    }
    return verdict::malformed;
}

} // namespace

verdict judge(const openpgp_collection& c, const sig_event& e, const uint8_t* blob,
              const uint8_t* material, const stored_key* stored, signer_key& key) {
    const std::span<const uint8_t> digest(blob, e.digest_size);
    const uint8_t* fields = blob + e.digest_size;
    const bool named_by_fingerprint = (e.flags & EVENT_ISSUER_FPR) != 0;
    // Absent, or another key with the same key id as the issuer's.
    if (stored == nullptr ||
        (named_by_fingerprint && std::memcmp(fields, stored->fpr.data(), stored->fpr.size()) != 0))
        return verdict::signer_absent;
    if (named_by_fingerprint) fields += stored->fpr.size();
    const std::span<const uint8_t> signature_fields(fields, e.fields_size);
    const std::span<const uint8_t> key_material(material, stored->material_size);
    // What a check by an earlier run on exactly these inputs found (the key
    // then decoded, as it would now).
    cache_key cached{};
    cached_check earlier = cached_check::none;
    if (c.cache != nullptr) {
        cached = verdict_key(stored->algorithm, key_material, e.hash_algorithm, digest,
                             signature_fields);
        earlier = cache_lookup(*c.cache, cached);
    }
    if (earlier == cached_check::none && !key.decoded) {
        key.loaded = load_verify_key(stored->algorithm, key_material, key.key);
        key.decoded = true;
    }
    if (earlier == cached_check::none && key.loaded != check_result::valid)
        return verdict_of(key.loaded);
    const uint8_t named_algorithm = fields[e.fields_size];
    if (named_algorithm != stored->algorithm) return verdict::algorithm_mismatch;
    if (e.created < int64_t{stored->created}) return verdict::predates_signer;
    if (earlier == cached_check::valid) return verdict::valid;
    if (earlier == cached_check::bad) return verdict::bad_signature;
    const verdict v =
        verdict_of(check_signature(key.key, e.hash_algorithm, digest, signature_fields));
    if (c.cache != nullptr)
        cache_record(*c.cache, cached,
                     v == verdict::valid           ? cached_check::valid
                     : v == verdict::bad_signature ? cached_check::bad
                                                   : cached_check::none);
    return v;
}

void verify_queued(const openpgp_collection& c, std::span<const queued_signature> queue,
                   const uint8_t* bytes, signer_key_cache& cache, uint64_t counts[]) {
    for (const queued_signature& q : queue) {
        signer_key_cache::slot& slot = cache.slots[q.signer_position % cache.slots.size()];
        if (slot.position != q.signer_position) {
            slot.key = signer_key();
            slot.position = q.signer_position;
        }
        q.event->result = judge(c, *q.event, bytes + q.blob, q.material, q.signer, slot.key);
        ++counts[static_cast<size_t>(q.event->result)];
    }
}

namespace {

// Verifies the events listed in order[first, last), all by one signer.
void verify_group(openpgp_collection& c, const std::vector<uint64_t>& order, size_t first,
                  size_t last, uint64_t counts[]) {
    const uint64_t signer = c.events[order[first]].signer;
    const uint32_t position = find_position(c.key_positions, signer);
    signer_key key;
    const stored_key* stored = nullptr;
    const uint8_t* material = nullptr;
    if (position != key_index::EMPTY) {
        stored = &c.keys[position];
        material = arena_at(c.arena, stored->material);
    }
    for (size_t i = first; i < last; ++i) {
        sig_event& e = c.events[order[i]];
        e.result = judge(c, e, arena_at(c.arena, e.blob), material, stored, key);
        ++counts[static_cast<size_t>(e.result)];
    }
}

} // namespace

void verify_signatures(openpgp_collection& c, unsigned threads,
                       const std::function<void(uint64_t done, uint64_t total)>& progress) {
    std::vector<uint64_t> order;
    for (uint64_t i = 0; i < c.events.size(); ++i)
        if (c.events[i].result == verdict::pending) order.push_back(i);
    // One signer's signatures together: its key is decoded once per piece.
    std::sort(order.begin(), order.end(), [&c](uint64_t a, uint64_t b) {
        const uint64_t sa = c.events[a].signer, sb = c.events[b].signer;
        return sa != sb ? sa < sb : a < b;
    });
    // One signer's signatures in pieces, so that a signer with many (or a
    // costly key) keeps every thread busy rather than one.
    constexpr size_t GROUP_MAX = 64;
    std::vector<size_t> group_starts;
    for (size_t i = 0; i < order.size(); ++i)
        if (i == 0 || c.events[order[i]].signer != c.events[order[i - 1]].signer ||
            i - group_starts.back() == GROUP_MAX)
            group_starts.push_back(i);
    group_starts.push_back(order.size());
    const size_t groups = group_starts.size() - 1;

    std::atomic<size_t> next_group{0};
    std::atomic<uint64_t> done{0};
    std::mutex counts_lock;
    auto work = [&]() {
        uint64_t local[static_cast<size_t>(verdict::count_)] = {};
        for (;;) {
            const size_t g = next_group.fetch_add(1);
            if (g >= groups) break;
            verify_group(c, order, group_starts[g], group_starts[g + 1], local);
            done.fetch_add(group_starts[g + 1] - group_starts[g], std::memory_order_relaxed);
        }
        const std::lock_guard<std::mutex> hold(counts_lock);
        for (size_t i = 0; i < static_cast<size_t>(verdict::count_); ++i)
            c.counts.verdicts[i] += local[i];
    };
    // The workers share the groups (start_threads.h: if a thread cannot be
    // started, the others take its share).
    if (!progress) {
        run_work_on_threads(static_cast<int>(std::max(threads, 1u)), work);
        return;
    }
    std::atomic<bool> finished{false};
    std::vector<std::thread> watcher;
    // One helper shows the progress while the others and this thread work.
    start_helper_threads(watcher, 2, [&](int) {
        while (!finished.load()) {
            progress(done.load(), order.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    });
    run_work_on_threads(static_cast<int>(std::max(threads, 1u)), work);
    finished.store(true);
    join_helper_threads(watcher);
    progress(done.load(), order.size());
}

void add_openpgp_keys(const openpgp_collection& c, key_list_table& table, keylist_counts& counts) {
    // Room for every key and certification at most, so that the table is not
    // copied as it grows; pages never used are never touched.
    table.entries.reserve(table.entries.size() + c.blocks.size());
    table.signers.reserve(table.signers.size() + c.events.size());
    key_block block;
    for (size_t b = 0; b < c.blocks.size(); ++b) {
        const key_appearance& a = c.blocks[b];
        // The key's own expiration: from its latest valid self-certification.
        int64_t expires = NO_TIME;
        if (c.rules.has_as_of) {
            int64_t latest = NO_TIME;
            for (uint64_t i = a.first_event; i < a.end_event; ++i) {
                const sig_event& e = c.events[i];
                if (e.kind != event_kind::certification || e.signer != a.id ||
                    e.result != verdict::valid || e.created < latest)
                    continue;
                latest = e.created;
                expires = e.expires != NO_TIME && e.expires > 0 ? a.created + e.expires : NO_TIME;
            }
        }
        start_key_block(block, a.id, a.created, expires, false, c.rules, counts);
        for (uint64_t i = a.first_event; i < a.end_event; ++i) {
            const sig_event& e = c.events[i];
            const char validity = e.result == verdict::valid ? '!' : '-';
            switch (e.kind) {
            case event_kind::user_id:
                start_user_id(block, counts);
                break;
            case event_kind::subkey:
                start_subkey(block, counts);
                break;
            case event_kind::certification:
                add_signature(block, e.signer, e.sig_class, e.created,
                              e.signer == a.id ? NO_TIME : e.expires, validity, c.rules, counts);
                break;
            case event_kind::revocation:
            case event_kind::key_revocation:
                if (e.result == verdict::valid)
                    add_revocation(block, e.signer, e.sig_class, e.created, c.rules, counts);
                break;
            }
        }
        const bool kept = finish_key_block(block, counts);
        add_key_block(table, a.id, kept, block.signers);
    }
}
