#include "openpgp_packets.h"

#include "openpgp_constants.h"

#include <algorithm>
#include <cstring>

namespace {

// The result of reading a packet header or a length at the front of bytes.
struct header {
    enum class kind { ok, need_more, invalid };
    kind result = kind::need_more;
    const char* what = "";
    unsigned tag = 0;
    size_t size = 0;      // header bytes, including the length
    uint64_t length = 0;  // body bytes (of the first piece when partial)
    bool partial = false; // more pieces follow this one
};

// RFC 4880 4.2.2, RFC 9580 4.2.1: a new-format length at p (also used
// between partial pieces).
header read_new_length(const uint8_t* p, size_t avail) {
    header h;
    if (avail < 1) return h;
    const unsigned first = p[0];
    if (first < LENGTH_TWO_OCTETS_FIRST) {
        h.size = 1;
        h.length = first;
    } else if (first < LENGTH_PARTIAL_FIRST) {
        if (avail < 2) return h;
        h.size = 2;
        h.length = ((first - LENGTH_TWO_OCTETS_FIRST) << 8) + p[1] + LENGTH_TWO_OCTETS_OFFSET;
    } else if (first == LENGTH_FIVE_OCTETS) {
        if (avail < 5) return h;
        h.size = 5;
        h.length = uint64_t{p[1]} << 24 | uint64_t{p[2]} << 16 | uint64_t{p[3]} << 8 | p[4];
    } else {
        h.size = 1;
        h.length = uint64_t{1} << (first & LENGTH_PARTIAL_EXPONENT_MASK);
        h.partial = true;
    }
    h.result = header::kind::ok;
    return h;
}

// RFC 4880 4.2, RFC 9580 4.2: a packet header (old or new format) at p.
header read_header(const uint8_t* p, size_t avail) {
    header h;
    if (avail < 1) return h;
    const unsigned ctb = p[0];
    if ((ctb & CTB_ALWAYS_SET) == 0) {
        h.result = header::kind::invalid;
        h.what = "not a packet header";
        return h;
    }
    if ((ctb & CTB_NEW_FORMAT) != 0) {
        header length = read_new_length(p + 1, avail - 1);
        if (length.result != header::kind::ok) return length;
        length.tag = ctb & CTB_NEW_TAG_MASK;
        length.size += 1;
        h = length;
    } else {
        h.tag = (ctb >> CTB_OLD_TAG_SHIFT) & CTB_OLD_TAG_MASK;
        const unsigned type = ctb & CTB_OLD_LENGTH_TYPE_MASK;
        if (type == OLD_LENGTH_INDETERMINATE) {
            h.result = header::kind::invalid;
            h.what = "packet of indeterminate length";
            return h;
        }
        const size_t octets = size_t{1} << type;
        if (avail < 1 + octets) return h;
        uint64_t length = 0;
        for (size_t i = 0; i < octets; ++i)
            length = length << 8 | p[1 + i];
        h.size = 1 + octets;
        h.length = length;
        h.result = header::kind::ok;
    }
    if (h.tag == TAG_RESERVED) {
        h.result = header::kind::invalid;
        h.what = "packet with the reserved tag 0";
    }
    return h;
}

// Whether p starts a public-key packet: yes, no, or cannot tell yet.
enum class verdict { yes, no, need_more };

// RFC 4880 5.5.2, RFC 9580 5.5.2: whether the public fields of a key of
// algorithm fill fields exactly (MPIs: a two-octet bit count, then the
// octets; OIDs and KDF parameters: a one-octet length, then the octets).
enum class fill { exact, wrong, unknown_algorithm };

fill fields_fill(std::span<const uint8_t> fields, unsigned algorithm) {
    size_t at = 0;
    auto mpi = [&fields, &at]() {
        if (fields.size() - at < 2) return false;
        const size_t bytes = ((size_t{fields[at]} << 8 | fields[at + 1]) + 7) / 8;
        at += 2;
        if (fields.size() - at < bytes) return false;
        at += bytes;
        return true;
    };
    auto counted = [&fields, &at]() {
        if (at >= fields.size()) return false;
        const size_t bytes = fields[at];
        ++at;
        if (bytes == 0 || bytes == 0xFF || fields.size() - at < bytes) return false;
        at += bytes;
        return true;
    };
    auto fixed = [&fields, &at](size_t bytes) {
        at = bytes;
        return fields.size() >= bytes;
    };
    bool ok = false;
    switch (algorithm) {
    case PK_RSA:
    case PK_RSA_ENCRYPT_ONLY:
    case PK_RSA_SIGN_ONLY:
        ok = mpi() && mpi();
        break;
    case PK_ELGAMAL_ENCRYPT_ONLY:
    case PK_ELGAMAL:
        ok = mpi() && mpi() && mpi();
        break;
    case PK_DSA:
        ok = mpi() && mpi() && mpi() && mpi();
        break;
    case PK_ECDSA:
    case PK_EDDSA:
        ok = counted() && mpi();
        break;
    case PK_ECDH:
        ok = counted() && mpi() && counted();
        break;
    case PK_X25519:
    case PK_ED25519:
        ok = fixed(32);
        break;
    case PK_X448:
        ok = fixed(56);
        break;
    case PK_ED448:
        ok = fixed(57);
        break;
    default:
        return fill::unknown_algorithm;
    }
    return ok && at == fields.size() ? fill::exact : fill::wrong;
}

// The longest user id taken as a sign that a key packet of an unknown
// algorithm is one.
constexpr size_t FOLLOWING_USER_ID_MAX = 2048;

// Whether p starts what follows a primary key packet as keys are written: a
// signature of a type keys carry, or a user id of text.
verdict starts_key_follower(const uint8_t* p, size_t avail, bool final) {
    if (avail == 0) return final ? verdict::no : verdict::need_more;
    const header h = read_header(p, avail);
    if (h.result == header::kind::need_more) return final ? verdict::no : verdict::need_more;
    if (h.result != header::kind::ok || h.partial) return verdict::no;
    const size_t head = h.tag == TAG_SIGNATURE ? 3 : static_cast<size_t>(h.length);
    if ((h.tag != TAG_SIGNATURE && h.tag != TAG_USER_ID) || h.length < head ||
        h.length > (h.tag == TAG_USER_ID ? FOLLOWING_USER_ID_MAX : PACKET_BODY_MAX))
        return verdict::no;
    if (avail - h.size < head) return final ? verdict::no : verdict::need_more;
    const uint8_t* body = p + h.size;
    if (h.tag == TAG_SIGNATURE) {
        const bool v4 = body[0] == SIG_VERSION_4 && is_key_signature_type(body[1]);
        const bool v3 = body[0] == SIG_VERSION_3 && body[1] == SIG_V3_HASHED_SIZE &&
                        is_key_signature_type(body[2]);
        return v4 || v3 ? verdict::yes : verdict::no;
    }
    if (h.length == 0) return verdict::no;
    for (size_t i = 0; i < h.length; ++i)
        if (body[i] < 0x20 || body[i] == 0x7F) return verdict::no;
    return verdict::yes;
}

// Whether body, followed by the bytes at next, is a key packet as keys are
// written: a known version, public fields that fill it exactly, or for an
// algorithm not known here a signature or user id after it.
verdict plausible_key(std::span<const uint8_t> body, const uint8_t* next, size_t avail,
                      bool final) {
    size_t header_size = 0;
    switch (body[0]) {
    case KEY_VERSION_3:
        // v3 keys are RSA keys.
        return body.size() > KEY_V3_HEADER_SIZE &&
                       fields_fill(body.subspan(KEY_V3_HEADER_SIZE), PK_RSA) == fill::exact
                   ? verdict::yes
                   : verdict::no;
    case KEY_VERSION_4:
        header_size = KEY_V4_HEADER_SIZE;
        break;
    case KEY_VERSION_5: {
        header_size = KEY_V5_HEADER_SIZE;
        if (body.size() < header_size) return verdict::no;
        const uint64_t count =
            uint64_t{body[6]} << 24 | uint64_t{body[7]} << 16 | uint64_t{body[8]} << 8 | body[9];
        if (count != body.size() - header_size) return verdict::no;
        break;
    }
    default:
        return verdict::no;
    }
    if (body.size() <= header_size) return verdict::no;
    switch (fields_fill(body.subspan(header_size), body[KEY_V4_HEADER_SIZE - 1])) {
    case fill::exact:
        return verdict::yes;
    case fill::wrong:
        return verdict::no;
    case fill::unknown_algorithm:
        break;
    }
    return starts_key_follower(next, avail, final);
}

// Whether p starts a public-key packet. Where the bytes before are not a
// packet (strict), the packet must look like a key as keys are written
// (plausible_key); at the start of an input a key packet header and a
// version are enough.
verdict starts_public_key(const uint8_t* p, size_t avail, bool strict, bool final) {
    const unsigned ctb = p[0];
    if (ctb != old_format_ctb(TAG_PUBLIC_KEY, OLD_LENGTH_ONE_OCTET) &&
        ctb != old_format_ctb(TAG_PUBLIC_KEY, OLD_LENGTH_TWO_OCTETS) &&
        ctb != old_format_ctb(TAG_PUBLIC_KEY, OLD_LENGTH_FOUR_OCTETS) &&
        ctb != new_format_ctb(TAG_PUBLIC_KEY))
        return verdict::no;
    const header h = read_header(p, avail);
    if (h.result == header::kind::need_more) return verdict::need_more;
    if (h.result != header::kind::ok || h.tag != TAG_PUBLIC_KEY || h.partial) return verdict::no;
    // No key packet is shorter than the version, creation time and algorithm.
    if (h.length < KEY_V4_HEADER_SIZE || h.length > (strict ? KEY_BODY_MAX : PACKET_BODY_MAX))
        return verdict::no;
    if (avail <= h.size) return verdict::need_more;
    const unsigned version = p[h.size];
    if (version < KEY_VERSION_3 || version > KEY_VERSION_5) return verdict::no;
    if (!strict) return verdict::yes;
    if (avail - h.size < h.length) return verdict::need_more;
    const size_t end = h.size + static_cast<size_t>(h.length);
    return plausible_key({p + h.size, static_cast<size_t>(h.length)}, p + end, avail - end, final);
}

void consume(packet_stream& s, size_t n) {
    s.start += n;
    s.offset += n;
}

void report(packet_stream& s, uint64_t offset, const std::string& what, framing_problem problem) {
    if (problem != framing_problem::skipped) ++s.errors;
    if (problem == framing_problem::cut_off) ++s.cut_off;
    if (s.on_error) s.on_error(offset, what, problem);
}

// Ends a run of skipped bytes, if there is one, with a report of its size.
void end_run(packet_stream& s, const char* up_to) {
    if (s.run_bytes > 0)
        report(s, s.run_start, std::to_string(s.run_bytes) + " bytes skipped up to " + up_to,
               framing_problem::skipped);
    s.run_bytes = 0;
}

void start_search(packet_stream& s) {
    s.state = packet_stream::mode::searching;
    s.run_start = s.offset;
    s.run_bytes = 0;
}

// Whether take() can go on with what is buffered or has to wait for more.
enum class step { go_on, wait };

// Skips the rest of an oversized packet, piece by piece.
step skip(packet_stream& s, bool final) {
    const uint8_t* p = s.buffer.data() + s.start;
    const size_t avail = s.end - s.start;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(avail, s.skip_remaining));
    consume(s, n);
    s.skip_remaining -= n;
    if (s.skip_remaining > 0) {
        if (final) {
            report(s, s.offset, "skipped packet cut off by the end of the input",
                   framing_problem::cut_off);
            s.skip_remaining = 0;
            s.skip_partial = false;
        }
        return step::wait;
    }
    if (!s.skip_partial) {
        s.state = packet_stream::mode::packets;
        return step::go_on;
    }
    const header next = read_new_length(p + n, avail - n);
    if (next.result == header::kind::need_more) {
        if (final) {
            report(s, s.offset, "packet cut off by the end of the input", framing_problem::cut_off);
            consume(s, avail - n);
        }
        return step::wait;
    }
    consume(s, next.size);
    s.skip_remaining = next.length;
    s.skip_partial = next.partial;
    return step::go_on;
}

// Skips bytes up to the next plausible public-key packet.
step search(packet_stream& s, bool final) {
    const uint8_t* p = s.buffer.data() + s.start;
    const size_t avail = s.end - s.start;
    size_t i = 0;
    bool found = false;
    for (; i < avail; ++i) {
        const verdict v = starts_public_key(p + i, avail - i, s.offset + i != 0, final);
        if (v == verdict::yes) {
            found = true;
            break;
        }
        if (v == verdict::need_more && !final) break;
    }
    s.junk_bytes += i;
    s.run_bytes += i;
    consume(s, i);
    if (found) {
        end_run(s, "the next public key");
        s.state = packet_stream::mode::packets;
        return step::go_on;
    }
    if (final) end_run(s, "the end of the input");
    return step::wait;
}

// The switch to skipping a packet found to be larger than PACKET_BODY_MAX.
void skip_oversized(packet_stream& s, unsigned tag, uint64_t offset, uint64_t remaining,
                    bool partial) {
    ++s.oversized;
    report(s, offset,
           "packet with tag " + std::to_string(tag) + " larger than " +
               std::to_string(PACKET_BODY_MAX) + " bytes skipped",
           framing_problem::oversized);
    s.skip_remaining = remaining;
    s.skip_partial = partial;
    s.state = packet_stream::mode::skipping;
}

// Takes the partial-length pieces of a body as they arrive: each byte is
// copied once into s.joined, and the walk resumes where it stopped.
step join(packet_stream& s, bool final) {
    for (;;) {
        const uint8_t* p = s.buffer.data() + s.start;
        const size_t avail = s.end - s.start;
        if (s.piece_remaining > PACKET_BODY_MAX - s.joined.size()) {
            s.joined.clear();
            skip_oversized(s, s.joined_tag, s.joined_offset, s.piece_remaining, s.piece_partial);
            return step::go_on;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(avail, s.piece_remaining));
        s.joined.insert(s.joined.end(), p, p + n);
        consume(s, n);
        s.piece_remaining -= n;
        const bool piece_done = s.piece_remaining == 0;
        header next;
        if (piece_done && s.piece_partial) next = read_new_length(p + n, avail - n);
        if (!piece_done || (s.piece_partial && next.result == header::kind::need_more)) {
            if (!final) return step::wait;
            report(s, s.joined_offset, "packet cut off by the end of the input",
                   framing_problem::cut_off);
            consume(s, s.end - s.start);
            s.joined.clear();
            s.state = packet_stream::mode::packets;
            return step::wait;
        }
        if (!s.piece_partial) break;
        consume(s, next.size);
        s.piece_remaining = next.length;
        s.piece_partial = next.partial;
    }
    ++s.packets;
    if (s.on_packet) s.on_packet(s.joined_tag, s.joined, s.joined_offset);
    s.joined.clear();
    s.state = packet_stream::mode::packets;
    return step::go_on;
}

// Takes the packet at the front of the buffer.
step read_packet(packet_stream& s, bool final) {
    const uint8_t* p = s.buffer.data() + s.start;
    const size_t avail = s.end - s.start;
    if (avail == 0) return step::wait;
    const header h = read_header(p, avail);
    if (h.result == header::kind::invalid) {
        report(s, s.offset, h.what, framing_problem::not_a_packet);
        start_search(s);
        return step::go_on;
    }
    if (h.result == header::kind::ok && h.partial) {
        s.joined.clear();
        s.joined_tag = h.tag;
        s.joined_offset = s.offset;
        s.piece_remaining = h.length;
        s.piece_partial = true;
        s.state = packet_stream::mode::joining;
        consume(s, h.size);
        return step::go_on;
    }
    if (h.result == header::kind::ok && h.length > PACKET_BODY_MAX) {
        const uint64_t offset = s.offset;
        consume(s, h.size);
        skip_oversized(s, h.tag, offset, h.length, false);
        return step::go_on;
    }
    if (h.result == header::kind::need_more || avail - h.size < h.length) {
        if (final) {
            report(s, s.offset, "packet cut off by the end of the input", framing_problem::cut_off);
            consume(s, avail);
        }
        return step::wait;
    }
    ++s.packets;
    const size_t length = static_cast<size_t>(h.length);
    if (s.on_packet) s.on_packet(h.tag, std::span<const uint8_t>(p + h.size, length), s.offset);
    consume(s, h.size + length);
    return step::go_on;
}

void take(packet_stream& s, bool final) {
    for (;;) {
        step next = step::wait;
        switch (s.state) {
        case packet_stream::mode::skipping:
            next = skip(s, final);
            break;
        case packet_stream::mode::searching:
            next = search(s, final);
            break;
        case packet_stream::mode::joining:
            next = join(s, final);
            break;
        case packet_stream::mode::packets:
            next = read_packet(s, final);
            break;
        }
        if (next == step::wait) return;
    }
}

} // namespace

std::span<uint8_t> input_space(packet_stream& s, size_t want) {
    if (s.start == s.end) s.start = s.end = 0;
    if (s.buffer.size() - s.end < want) {
        if (s.start > 0) {
            std::memmove(s.buffer.data(), s.buffer.data() + s.start, s.end - s.start);
            s.end -= s.start;
            s.start = 0;
        }
        if (s.buffer.size() - s.end < want) s.buffer.resize(s.end + want);
    }
    return {s.buffer.data() + s.end, s.buffer.size() - s.end};
}

void commit_input(packet_stream& s, size_t size) {
    if (!s.begun && s.key_first) start_search(s);
    s.begun = true;
    s.end += size;
    take(s, false);
}

void feed_packets(packet_stream& s, const uint8_t* data, size_t size) {
    while (size > 0) {
        const size_t n = std::min(size, size_t{1} << 20);
        std::span<uint8_t> room = input_space(s, n);
        std::memcpy(room.data(), data, n);
        commit_input(s, n);
        data += n;
        size -= n;
    }
}

void finish_packets(packet_stream& s) {
    take(s, true);
    s.begun = false;
    s.start = s.end = 0;
    s.offset = 0;
    s.state = packet_stream::mode::packets;
    s.skip_remaining = 0;
    s.skip_partial = false;
    s.run_bytes = 0;
    s.joined.clear();
    s.piece_remaining = 0;
    s.piece_partial = false;
}
