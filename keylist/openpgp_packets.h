// A bounded, streaming reader of OpenPGP packet framing (old and new packet
// headers, partial body lengths). It is fed bytes in chunks of any size and
// hands each complete packet, whole and in one piece, to a callback.
//
// Nothing in the input is trusted: a packet whose body would be larger than
// PACKET_BODY_MAX is never buffered; its bytes are skipped as they stream
// past and it is reported as oversized. Bytes that are not a packet header
// are reported once, then skipped up to the next byte that starts a
// plausible public-key packet. The reader's memory is therefore bounded by
// PACKET_BODY_MAX plus one input chunk, whatever the input says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// The largest packet body kept (photo user attributes are the largest
// legitimate packets of key data; a few hundred kilobytes at most).
constexpr size_t PACKET_BODY_MAX = size_t{4} << 20;

// A packet: its tag, its body (valid only during the call) and the offset of
// its first header byte in the stream.
using packet_sink =
    std::function<void(unsigned tag, std::span<const uint8_t> body, uint64_t offset)>;

// A framing problem at offset: what was wrong, and whether the packets read
// since the last public-key packet are cut off from what follows (resync:
// the bytes after it up to the next public-key packet header are skipped).
// An oversized packet is skipped exactly and does not cut anything off.
using framing_error_sink =
    std::function<void(uint64_t offset, const std::string& what, bool resync)>;

struct packet_stream {
    packet_sink on_packet;
    framing_error_sink on_error;

    std::vector<uint8_t> buffer; // bytes not yet taken, from start to end
    size_t start = 0;
    size_t end = 0;
    uint64_t offset = 0; // stream offset of buffer[start]

    enum class mode { packets, searching, skipping };
    mode state = mode::packets;
    uint64_t skip_remaining = 0; // in mode::skipping: body bytes still to drop
    bool skip_partial = false;   // the skipped body continues with a partial length

    std::vector<uint8_t> joined; // a body assembled from partial-length pieces
    uint64_t packets = 0;
    uint64_t junk_bytes = 0; // bytes skipped while searching
    uint64_t oversized = 0;  // packets skipped as larger than PACKET_BODY_MAX
    uint64_t errors = 0;     // framing errors reported
};

// Room for at least want more bytes at the end of the stream's buffer; the
// caller writes into it (e.g. with read(2)) and then calls commit_input.
std::span<uint8_t> input_space(packet_stream& stream, size_t want);
void commit_input(packet_stream& stream, size_t size);

// Copies data into the stream and takes every packet it completes.
void feed_packets(packet_stream& stream, const uint8_t* data, size_t size);

// Ends the stream: a packet cut off by the end is reported as truncated. The
// stream is then ready for a new input (offsets start at 0 again).
void finish_packets(packet_stream& stream);
