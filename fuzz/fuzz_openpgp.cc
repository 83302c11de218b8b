// The OpenPGP reading of korvalinde-keylist: binary packets or armor, fed in
// chunks of any size, must give the same key list and the same counts as
// fed all at once; the key list must be well formed; nothing may crash,
// leak or read out of bounds whatever the lengths in the input claim.
// Verified, every signature's verdict must be the one a plain reference
// check gives (reference_valid below: the digest hashed by hand, the signer
// looked up among all keys read, one signature at a time).
//
// Input: byte 0 holds the chunk size (0: 4096) and bit 7 of byte 1 chooses
// armor; bit 6 verification; bit 5 binary input read from its first key (as
// an input that may start inside a packet); the rest is the data.
#include "fuzz_check.h"
#include "key_list_table.h"
#include "openpgp_armor.h"
#include "openpgp_collection.h"
#include "openpgp_constants.h"
#include "openpgp_fields.h"
#include "openpgp_names.h"
#include "openpgp_packets.h"

#include <cstdint>
#include <string>

namespace {

// What the reference check needs of a signature the collection took: the
// key and user id it is over, as they were read.
struct taken_signature {
    uint64_t event;
    std::vector<uint8_t> key_body;
    std::vector<uint8_t> user_id; // empty for a key revocation
    unsigned user_id_tag = 0;
    std::vector<uint8_t> body;
};

struct reference_input {
    std::vector<std::vector<uint8_t>> keys; // every primary key taken, in order
    std::vector<taken_signature> signatures;
};

// Records what the collection took, packet by packet.
void record_packet(const openpgp_collection& c, reference_input& ref, unsigned tag,
                   std::span<const uint8_t> body, uint64_t events_before,
                   std::vector<uint8_t>& user_id, unsigned& user_id_tag) {
    using place = openpgp_collection::place;
    if (tag == TAG_PUBLIC_KEY && c.where == place::key) {
        ref.keys.emplace_back(body.begin(), body.end());
        user_id.clear();
    } else if (tag == TAG_USER_ID || tag == TAG_USER_ATTRIBUTE) {
        user_id.assign(body.begin(), body.end());
        user_id_tag = tag;
    } else if (tag == TAG_SIGNATURE && c.events.size() > events_before) {
        const sig_event& e = c.events.back();
        taken_signature t{c.events.size() - 1, ref.keys.back(), {}, user_id_tag, {}};
        if (e.kind != event_kind::key_revocation) t.user_id = user_id;
        t.body.assign(body.begin(), body.end());
        ref.signatures.push_back(std::move(t));
    }
}

void hash_be(digest_context& d, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        const uint8_t b = static_cast<uint8_t>(value >> (8 * i));
        digest_update(d, std::span(&b, 1));
    }
}

// Whether the signature is valid, checked the plain way.
bool reference_valid(const reference_input& ref, const taken_signature& t, const sig_event& e) {
    signature_packet sig;
    FUZZ_CHECK(parse_signature(t.body, sig) == nullptr);
    public_key_packet own;
    FUZZ_CHECK(parse_public_key(t.key_body, own) == nullptr);
    const uint64_t issuer = sig.issuer != 0 ? sig.issuer : own.key_id;
    const bool self = issuer == own.key_id;
    if (!self && sig.sig_class != SIG_CERTIFICATION_REVOCATION && sig.hash_algorithm == HASH_SHA1 &&
        sig.created > 1547856000)
        return false; // SHA-1 after 2019-01-19
    if (sig.issuer == 0 && e.kind != event_kind::key_revocation) return false;
    if (sig.unknown_critical || sig.fields.size() > 4200) return false;
    digest_context d;
    if (!digest_begin(d, static_cast<uint8_t>(sig.hash_algorithm))) return false;
    hash_be(d, 0x99, 1);
    hash_be(d, t.key_body.size(), 2);
    digest_update(d, t.key_body);
    if (e.kind != event_kind::key_revocation) {
        if (sig.version == 4) {
            hash_be(d, t.user_id_tag == TAG_USER_ATTRIBUTE ? 0xD1 : 0xB4, 1);
            hash_be(d, t.user_id.size(), 4);
        }
        digest_update(d, t.user_id);
    }
    digest_update(d, sig.hashed);
    if (sig.version == 4) {
        hash_be(d, 0x04FF, 2);
        hash_be(d, sig.hashed.size(), 4);
    }
    const digest_value digest = digest_final(d);
    // The two digest bytes in clear must be right (gpg calls it bad otherwise).
    if (digest[0] != sig.left16[0] || digest[1] != sig.left16[1]) return false;
    // The first key read with the issuer's key id is the signer.
    const std::vector<uint8_t>* signer_body = nullptr;
    public_key_packet signer;
    for (const std::vector<uint8_t>& body : ref.keys)
        if (parse_public_key(body, signer) == nullptr && signer.key_id == issuer) {
            signer_body = &body;
            break;
        }
    if (signer_body == nullptr || (sig.has_issuer_fpr && sig.issuer_fpr != signer.fpr))
        return false;
    if (sig.pub_algorithm != signer.algorithm || sig.created < signer.created) return false;
    verify_key key;
    if (load_verify_key(static_cast<uint8_t>(signer.algorithm), signer.material, key) !=
        check_result::valid)
        return false;
    return check_signature(key, static_cast<uint8_t>(sig.hash_algorithm), digest, sig.fields) ==
           check_result::valid;
}

void check_verdicts(const openpgp_collection& c, const reference_input& ref) {
    for (const taken_signature& t : ref.signatures) {
        const sig_event& e = c.events[t.event];
        if (e.kind == event_kind::user_id || e.kind == event_kind::subkey) continue;
        FUZZ_CHECK(reference_valid(ref, t, e) == (e.result == verdict::valid));
    }
}

struct result {
    std::string list;
    uint64_t blocks = 0;
    uint64_t events = 0;
};

result read_all(const uint8_t* data, size_t size, size_t chunk, bool armored, bool verify,
                bool key_first) {
    openpgp_collection c;
    c.verify = verify;
    c.keep_self_signatures = true;
    packet_stream stream;
    stream.key_first = key_first && !armored;
    reference_input ref;
    std::vector<uint8_t> user_id;
    unsigned user_id_tag = 0;
    stream.on_packet = [&](unsigned tag, std::span<const uint8_t> body, uint64_t offset) {
        const uint64_t events_before = c.events.size();
        take_openpgp_packet(c, tag, body, offset);
        if (verify) record_packet(c, ref, tag, body, events_before, user_id, user_id_tag);
    };
    stream.on_error = [&c](uint64_t, const std::string&, framing_problem problem) {
        if (ends_key_block(problem)) end_openpgp_block(c);
    };
    armor_decoder armor;
    armor.on_data = [&stream](std::span<const uint8_t> d) {
        feed_packets(stream, d.data(), d.size());
    };
    armor.on_block_end = [&](bool, uint64_t, const std::string&) {
        finish_packets(stream);
        end_openpgp_block(c);
    };
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = std::min(chunk, size - at);
        if (armored)
            feed_armor(armor, data + at, n);
        else
            feed_packets(stream, data + at, n);
    }
    if (armored) finish_armor(armor);
    finish_packets(stream);
    end_openpgp_block(c);
    verify_signatures(c, 1, nullptr);
    if (verify) check_verdicts(c, ref);
    choose_user_ids(c);
    key_list_table table;
    keylist_counts counts;
    add_openpgp_keys(c, table, counts);
    result r;
    written_counts written;
    write_key_list(
        table,
        [&r](const char* d, size_t n) {
            r.list.append(d, n);
            return true;
        },
        written);
    r.blocks = c.counts.key_blocks;
    r.events = c.events.size();
    std::string name;
    for (const key_list_table::entry& e : table.entries)
        (void)primary_user_id(c, e.id, name);
    FUZZ_CHECK(r.list.size() % 18 == 0);
    for (size_t i = 0; i < r.list.size(); i += 18)
        FUZZ_CHECK((r.list[i] == 'p' || r.list[i] == 's') && r.list[i + 17] == '\n');
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t chunk = data[0] == 0 ? 4096 : data[0];
    const bool armored = (data[1] & 0x80) != 0;
    const bool verify = (data[1] & 0x40) != 0;
    const bool key_first = (data[1] & 0x20) != 0;
    const result whole = read_all(data + 2, size - 2, size, armored, verify, key_first);
    const result chunked = read_all(data + 2, size - 2, chunk, armored, verify, key_first);
    FUZZ_CHECK(whole.list == chunked.list);
    FUZZ_CHECK(whole.blocks == chunked.blocks);
    FUZZ_CHECK(whole.events == chunked.events);
    return 0;
}
