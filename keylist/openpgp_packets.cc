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
    size_t size = 0;        // header bytes, including the length
    uint64_t length = 0;    // body bytes (of the first piece when partial)
    bool partial = false;   // more pieces follow this one
    bool too_large = false; // partial pieces adding up beyond PACKET_BODY_MAX
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

verdict starts_public_key(const uint8_t* p, size_t avail) {
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
    if (h.length < KEY_V4_HEADER_SIZE || h.length > PACKET_BODY_MAX) return verdict::no;
    if (avail <= h.size) return verdict::need_more;
    const unsigned version = p[h.size];
    return version >= KEY_VERSION_3 && version <= KEY_VERSION_5 ? verdict::yes : verdict::no;
}

void consume(packet_stream& s, size_t n) {
    s.start += n;
    s.offset += n;
}

void report(packet_stream& s, uint64_t offset, const std::string& what, bool resync = true) {
    ++s.errors;
    if (s.on_error) s.on_error(offset, what, resync);
}

// A packet with partial lengths: walks its pieces. Returns need_more, or ok
// with the raw size taken in h.size and the body joined in s.joined, or ok
// with h.length beyond PACKET_BODY_MAX when it is to be skipped (h.size then
// covers what was walked, h.length the bytes of the current piece left).
header walk_partial(packet_stream& s, const uint8_t* p, size_t avail, header h) {
    s.joined.clear();
    size_t at = h.size;
    uint64_t piece = h.length;
    bool more = true;
    uint64_t total = 0;
    while (true) {
        total += piece;
        if (total > PACKET_BODY_MAX || at > 2 * PACKET_BODY_MAX) {
            // Too large to keep: skip the rest of this piece and those after.
            h.size = at;
            h.length = piece;
            h.partial = more;
            h.too_large = true;
            h.result = header::kind::ok;
            s.joined.clear();
            return h;
        }
        if (avail - at < piece) {
            h.result = header::kind::need_more;
            return h;
        }
        s.joined.insert(s.joined.end(), p + at, p + at + piece);
        at += piece;
        if (!more) break;
        const header next = read_new_length(p + at, avail - at);
        if (next.result == header::kind::need_more) {
            h.result = header::kind::need_more;
            return h;
        }
        at += next.size;
        piece = next.length;
        more = next.partial;
    }
    h.size = at;
    h.length = s.joined.size();
    h.partial = false;
    h.result = header::kind::ok;
    return h;
}

void take(packet_stream& s, bool final) {
    while (true) {
        const uint8_t* p = s.buffer.data() + s.start;
        const size_t avail = s.end - s.start;
        switch (s.state) {
        case packet_stream::mode::skipping: {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(avail, s.skip_remaining));
            consume(s, n);
            s.skip_remaining -= n;
            if (s.skip_remaining > 0) {
                if (final) {
                    report(s, s.offset, "skipped packet cut off by the end of the input");
                    s.skip_remaining = 0;
                    s.skip_partial = false;
                }
                return;
            }
            if (!s.skip_partial) {
                s.state = packet_stream::mode::packets;
                continue;
            }
            const header next = read_new_length(p + n, avail - n);
            if (next.result == header::kind::need_more) {
                if (final) {
                    report(s, s.offset, "packet cut off by the end of the input");
                    consume(s, avail - n);
                }
                return;
            }
            consume(s, next.size);
            s.skip_remaining = next.length;
            s.skip_partial = next.partial;
            continue;
        }
        case packet_stream::mode::searching: {
            size_t i = 0;
            for (; i < avail; ++i) {
                const verdict v = starts_public_key(p + i, avail - i);
                if (v == verdict::yes) break;
                if (v == verdict::need_more && !final) {
                    s.junk_bytes += i;
                    consume(s, i);
                    return;
                }
            }
            s.junk_bytes += i;
            consume(s, i);
            if (i == avail) return;
            s.state = packet_stream::mode::packets;
            continue;
        }
        case packet_stream::mode::packets:
            break;
        }
        if (avail == 0) return;
        header h = read_header(p, avail);
        if (h.result == header::kind::invalid) {
            report(s, s.offset, h.what);
            consume(s, 1);
            s.state = packet_stream::mode::searching;
            continue;
        }
        bool joined_body = false;
        if (h.result == header::kind::ok && h.partial) {
            h = walk_partial(s, p, avail, h);
            joined_body = h.result == header::kind::ok && !h.too_large;
        }
        if (h.result == header::kind::ok && (h.too_large || h.length > PACKET_BODY_MAX)) {
            ++s.oversized;
            report(s, s.offset,
                   "packet with tag " + std::to_string(h.tag) + " larger than " +
                       std::to_string(PACKET_BODY_MAX) + " bytes skipped",
                   false);
            consume(s, h.size);
            s.skip_remaining = h.length;
            s.skip_partial = h.partial;
            s.state = packet_stream::mode::skipping;
            continue;
        }
        if (h.result == header::kind::need_more || (!joined_body && avail - h.size < h.length)) {
            if (final) {
                report(s, s.offset, "packet cut off by the end of the input");
                consume(s, avail);
            }
            return;
        }
        ++s.packets;
        const uint64_t offset = s.offset;
        const std::span<const uint8_t> body =
            joined_body ? std::span<const uint8_t>(s.joined)
                        : std::span<const uint8_t>(p + h.size, static_cast<size_t>(h.length));
        const size_t taken = joined_body ? h.size : h.size + static_cast<size_t>(h.length);
        if (s.on_packet) s.on_packet(h.tag, body, offset);
        s.joined.clear();
        consume(s, taken);
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
    s.start = s.end = 0;
    s.offset = 0;
    s.state = packet_stream::mode::packets;
    s.skip_remaining = 0;
    s.skip_partial = false;
    s.joined.clear();
}
