#include "openpgp_fields.h"

#include "signature_check.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint64_t be64(const uint8_t* p) {
    return uint64_t{be32(p)} << 32 | be32(p + 4);
}

// Further subpacket types (RFC 4880 5.2.3.1) that gpg understands when they
// are marked critical. A critical subpacket of any other type, or a critical
// notation of a name gpg does not know, makes the signature invalid (RFC 4880
// 5.2.3.1: the receiver must treat it as invalid).
constexpr unsigned SUB_EXPORTABLE = 4;
constexpr unsigned SUB_TRUST = 5;
constexpr unsigned SUB_REGULAR_EXPRESSION = 6;
constexpr unsigned SUB_REVOCABLE = 7;
constexpr unsigned SUB_PREFERRED_SYMMETRIC = 11;
constexpr unsigned SUB_REVOCATION_KEY = 12;
constexpr unsigned SUB_NOTATION = 20;
constexpr unsigned SUB_PREFERRED_HASH = 21;
constexpr unsigned SUB_PREFERRED_COMPRESSION = 22;
constexpr unsigned SUB_PREFERRED_KEY_SERVER = 24;
constexpr unsigned SUB_POLICY_URI = 26;
constexpr unsigned SUB_KEY_FLAGS = 27;
constexpr unsigned SUB_REVOCATION_REASON = 29;
constexpr unsigned SUB_FEATURES = 30;
constexpr unsigned SUB_EMBEDDED_SIGNATURE = 32;
constexpr size_t NOTATION_HEADER_SIZE = 8; // flags (4), name length (2), value length (2)

bool critical_notation_understood(const uint8_t* data, size_t size) {
    static constexpr std::string_view known[] = {"preferred-email-encoding@pgp.com",
                                                 "pka-address@gnupg.org"};
    if (size < NOTATION_HEADER_SIZE) return false;
    const size_t name_size = size_t{data[4]} << 8 | data[5];
    if (size - NOTATION_HEADER_SIZE < name_size) return false;
    const std::string_view name(reinterpret_cast<const char*>(data + NOTATION_HEADER_SIZE),
                                name_size);
    return std::find(std::begin(known), std::end(known), name) != std::end(known);
}

bool critical_understood(unsigned type, const uint8_t* data, size_t size) {
    switch (type) {
    case SUB_CREATED:
    case SUB_SIG_EXPIRES:
    case SUB_EXPORTABLE:
    case SUB_TRUST:
    case SUB_REGULAR_EXPRESSION:
    case SUB_REVOCABLE:
    case SUB_KEY_EXPIRES:
    case SUB_PREFERRED_SYMMETRIC:
    case SUB_REVOCATION_KEY:
    case SUB_ISSUER:
    case SUB_PREFERRED_HASH:
    case SUB_PREFERRED_COMPRESSION:
    case SUB_PREFERRED_KEY_SERVER:
    case SUB_PRIMARY_USER_ID:
    case SUB_POLICY_URI:
    case SUB_KEY_FLAGS:
    case SUB_REVOCATION_REASON:
    case SUB_FEATURES:
    case SUB_EMBEDDED_SIGNATURE:
    case SUB_ISSUER_FPR:
        return true;
    case SUB_NOTATION:
        return critical_notation_understood(data, size);
    default:
        return false;
    }
}

// RFC 4880 5.2.3.1, RFC 9580 5.2.3.7: reads one subpacket area; unhashed
// says whether it is the unhashed one, where only the issuer subpackets are
// believed.
const char* read_subpackets(std::span<const uint8_t> area, bool unhashed, signature_packet& sig) {
    size_t at = 0;
    while (at < area.size()) {
        const unsigned first = area[at];
        size_t length, header;
        if (first < LENGTH_TWO_OCTETS_FIRST) {
            length = first;
            header = 1;
        } else if (first < LENGTH_FIVE_OCTETS) {
            if (area.size() - at < 2) return "subpacket length cut off";
            length =
                ((first - LENGTH_TWO_OCTETS_FIRST) << 8) + area[at + 1] + LENGTH_TWO_OCTETS_OFFSET;
            header = 2;
        } else {
            if (area.size() - at < 5) return "subpacket length cut off";
            length = be32(&area[at + 1]);
            header = 5;
        }
        at += header;
        if (length == 0 || length > area.size() - at) return "subpacket longer than its area";
        const unsigned type = area[at] & SUBPACKET_TYPE_MASK;
        const uint8_t* data = &area[at + 1];
        const size_t size = length - 1;
        if ((area[at] & SUBPACKET_CRITICAL) != 0 && !critical_understood(type, data, size))
            sig.unknown_critical = true;
        switch (type) {
        case SUB_CREATED:
            // The first one counts, as in gpg: a later one cannot move the
            // signature's time (and with it the order of revocations).
            if (!unhashed && size == 4 && sig.created == NO_TIME) sig.created = be32(data);
            break;
        case SUB_SIG_EXPIRES:
            if (!unhashed && size == 4 && be32(data) != 0)
                sig.expires = be32(data); // relative for now
            break;
        case SUB_KEY_EXPIRES:
            if (!unhashed && size == 4) sig.key_lifetime = be32(data);
            break;
        case SUB_PRIMARY_USER_ID:
            if (!unhashed && size == 1) sig.primary_user_id = data[0] != 0;
            break;
        case SUB_ISSUER:
            if (size == KEY_ID_SIZE && sig.issuer == 0) sig.issuer = be64(data);
            break;
        case SUB_ISSUER_FPR:
            if (size == 1 + V4_FINGERPRINT_SIZE && data[0] == KEY_VERSION_4 &&
                !sig.has_issuer_fpr) {
                sig.has_issuer_fpr = true;
                for (size_t i = 0; i < V4_FINGERPRINT_SIZE; ++i)
                    sig.issuer_fpr[i] = data[1 + i];
            }
            break;
        default:
            break;
        }
        at += length;
    }
    return nullptr;
}

} // namespace

const char* parse_public_key(std::span<const uint8_t> body, public_key_packet& key) {
    if (body.empty()) return "empty public-key packet";
    key.version = body[0];
    if (key.version == KEY_VERSION_3 || key.version == KEY_VERSION_2)
        return "version 3 key (not supported)";
    if (key.version != KEY_VERSION_4) return "public-key packet of an unknown version";
    if (body.size() <= KEY_V4_HEADER_SIZE) return "public-key packet cut short";
    if (body.size() > KEY_BODY_MAX) return "public-key packet too long for a v4 fingerprint";
    key.created = be32(&body[1]);
    key.algorithm = body[5];
    key.material = body.subspan(KEY_V4_HEADER_SIZE);
    const std::array<uint8_t, 3> prefix = key_prefix(body.size());
    // One context per thread, reused: a key costs no allocation and no
    // lookup of the hash.
    thread_local digest_context fingerprint_digest;
    if (!digest_begin(fingerprint_digest, HASH_SHA1)) return "cannot compute the fingerprint";
    digest_update(fingerprint_digest, prefix);
    digest_update(fingerprint_digest, body);
    const digest_value d = digest_final(fingerprint_digest);
    if (d.size() != key.fpr.size()) return "cannot compute the fingerprint";
    std::copy(d.begin(), d.end(), key.fpr.begin());
    key.key_id = be64(&key.fpr[V4_FINGERPRINT_SIZE - KEY_ID_SIZE]);
    return nullptr;
}

const char* parse_signature(std::span<const uint8_t> body, signature_packet& sig) {
    sig = signature_packet{};
    if (body.empty()) return "empty signature packet";
    sig.version = body[0];
    size_t at = 0;
    if (sig.version == SIG_VERSION_3 || sig.version == SIG_VERSION_2) {
        // version, 5, class, created (4), signer (8), algorithms (2), left 16 bits (2).
        if (body.size() < 19) return "v3 signature cut short";
        if (body[1] != SIG_V3_HASHED_SIZE) return "v3 signature with a hashed length other than 5";
        sig.sig_class = body[2];
        sig.created = be32(&body[3]);
        sig.issuer = be64(&body[7]);
        sig.pub_algorithm = body[15];
        sig.hash_algorithm = body[16];
        sig.hashed = body.subspan(2, SIG_V3_HASHED_SIZE);
        at = 17;
    } else if (sig.version == SIG_VERSION_4) {
        if (body.size() < 6) return "v4 signature cut short";
        sig.sig_class = body[1];
        sig.pub_algorithm = body[2];
        sig.hash_algorithm = body[3];
        const size_t hashed_size = size_t{body[4]} << 8 | body[5];
        if (body.size() - 6 < hashed_size + 2) return "hashed subpackets longer than the signature";
        sig.hashed = body.subspan(0, 6 + hashed_size);
        if (const char* what = read_subpackets(body.subspan(6, hashed_size), false, sig))
            return what;
        at = 6 + hashed_size;
        const size_t unhashed_size = size_t{body[at]} << 8 | body[at + 1];
        at += 2;
        if (body.size() - at < unhashed_size + 2)
            return "unhashed subpackets longer than the signature";
        if (const char* what = read_subpackets(body.subspan(at, unhashed_size), true, sig))
            return what;
        at += unhashed_size;
        if (sig.created == NO_TIME) return "signature without a creation time";
        if (sig.expires != NO_TIME) sig.expires += sig.created;
        if (sig.has_issuer_fpr)
            sig.issuer = be64(&sig.issuer_fpr[V4_FINGERPRINT_SIZE - KEY_ID_SIZE]);
    } else {
        return "signature of an unknown version";
    }
    if (body.size() - at < 2) return "signature cut short";
    sig.left16 = {body[at], body[at + 1]};
    sig.fields = body.subspan(at + 2);
    return nullptr;
}

size_t signature_trailer(const signature_packet& sig, std::array<uint8_t, 6>& out) {
    if (sig.version != SIG_VERSION_4) return 0;
    const size_t n = sig.hashed.size();
    out = {SIG_VERSION_4,
           SIGNATURE_TRAILER_MARK,
           static_cast<uint8_t>(n >> 24),
           static_cast<uint8_t>(n >> 16),
           static_cast<uint8_t>(n >> 8),
           static_cast<uint8_t>(n)};
    return out.size();
}

std::array<uint8_t, 3> key_prefix(size_t body_size) {
    return {KEY_HASH_PREFIX, static_cast<uint8_t>(body_size >> 8), static_cast<uint8_t>(body_size)};
}

std::array<uint8_t, 5> user_id_prefix(unsigned tag, size_t size) {
    const uint8_t type =
        tag == TAG_USER_ATTRIBUTE ? USER_ATTRIBUTE_HASH_PREFIX : USER_ID_HASH_PREFIX;
    return {type, static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
            static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
}
