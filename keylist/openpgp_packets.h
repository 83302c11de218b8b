// A bounded, streaming reader of OpenPGP packet framing (old and new packet
// headers, partial body lengths). It is fed bytes in chunks of any size and
// hands each complete packet, whole and in one piece, to a callback.
//
// Nothing in the input is trusted: a packet whose body would be larger than
// PACKET_BODY_MAX is never buffered; its bytes are skipped as they stream
// past and it is reported as oversized. Bytes that are not a packet header
// are reported once, then skipped up to the next byte that starts a
// plausible public-key packet. A body in partial-length pieces is assembled
// as its pieces arrive, each byte looked at once. The reader's memory is
// therefore bounded by PACKET_BODY_MAX plus one input chunk, whatever the
// input says.
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

// What the reader reports besides packets.
enum class framing_problem {
    not_a_packet, // bytes that are not a packet header: skipped up to the next key
    oversized,    // a packet larger than PACKET_BODY_MAX: skipped exactly
    cut_off,      // a packet cut off by the end of the input
    skipped,      // the end of a run of skipped bytes (offset: where the run began)
};

// Whether the packets read since the last public-key packet are cut off
// from what follows the problem.
constexpr bool ends_key_block(framing_problem problem) {
    return problem == framing_problem::not_a_packet || problem == framing_problem::cut_off;
}

// A framing problem at offset and what it was.
using framing_error_sink =
    std::function<void(uint64_t offset, const std::string& what, framing_problem problem)>;

struct packet_stream {
    packet_sink on_packet;
    framing_error_sink on_error;

    std::vector<uint8_t> buffer; // bytes not yet taken, from start to end
    size_t start = 0;
    size_t end = 0;
    uint64_t offset = 0; // stream offset of buffer[start]

    // Set before an input starts: its first packet must be a public key,
    // and bytes before the first plausible one are skipped (an input that
    // may begin in the middle of a packet). Otherwise its first packet may
    // continue the key block of the input before.
    bool key_first = false;
    bool begun = false; // bytes of the current input have come

    enum class mode { packets, searching, skipping, joining };
    mode state = mode::packets;
    uint64_t skip_remaining = 0; // in mode::skipping: body bytes still to drop
    bool skip_partial = false;   // the skipped body continues with a partial length
    uint64_t run_start = 0;      // in mode::searching: where the skipped bytes began
    uint64_t run_bytes = 0;      // and how many have been skipped so far

    // In mode::joining: a body assembled from partial-length pieces, its
    // packet's tag and offset, and what is left of the current piece.
    std::vector<uint8_t> joined;
    unsigned joined_tag = 0;
    uint64_t joined_offset = 0;
    uint64_t piece_remaining = 0;
    bool piece_partial = false; // another piece follows the current one

    uint64_t packets = 0;
    uint64_t junk_bytes = 0; // bytes skipped while searching
    uint64_t oversized = 0;  // packets skipped as larger than PACKET_BODY_MAX
    uint64_t cut_off = 0;    // packets cut off by the end of an input
    uint64_t errors = 0;     // framing errors reported (not the ends of skipped runs)
};

// Room for at least want more bytes at the end of the stream's buffer; the
// caller writes into it (e.g. with read(2)) and then calls commit_input.
std::span<uint8_t> input_space(packet_stream& stream, size_t want);
void commit_input(packet_stream& stream, size_t size);

// Copies data into the stream and takes every packet it completes.
void feed_packets(packet_stream& stream, const uint8_t* data, size_t size);

// Ends the stream: a packet cut off by the end is reported as cut off. The
// stream is then ready for a new input (offsets start at 0 again, and
// key_first is to be set again if wanted).
void finish_packets(packet_stream& stream);
