#include "openpgp_packets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

// What a stream reported, in order: "tag:size@offset" for a packet, the
// problem and its offset otherwise ("skipped:bytes@offset" for a run of
// skipped bytes).
std::vector<std::string> run(const bytes& input, size_t chunk, size_t* max_buffer = nullptr,
                             bool key_first = false) {
    std::vector<std::string> seen;
    packet_stream s;
    s.key_first = key_first;
    s.on_packet = [&seen](unsigned tag, std::span<const uint8_t> body, uint64_t offset) {
        seen.push_back(std::to_string(tag) + ":" + std::to_string(body.size()) + "@" +
                       std::to_string(offset));
    };
    s.on_error = [&seen](uint64_t offset, const std::string& what, framing_problem problem) {
        std::string name;
        switch (problem) {
        case framing_problem::not_a_packet:
            name = "junk";
            break;
        case framing_problem::oversized:
            name = "oversized";
            break;
        case framing_problem::cut_off:
            name = "cut";
            break;
        case framing_problem::skipped:
            name = "skipped:" + what.substr(0, what.find(' '));
            break;
        }
        seen.push_back(name + "@" + std::to_string(offset));
    };
    for (size_t at = 0; at < input.size(); at += chunk)
        feed_packets(s, input.data() + at, std::min(chunk, input.size() - at));
    if (max_buffer != nullptr) *max_buffer = s.buffer.size();
    finish_packets(s);
    return seen;
}

bytes packet(uint8_t ctb, const bytes& length, size_t body_size, uint8_t first = 4) {
    bytes b{ctb};
    b.insert(b.end(), length.begin(), length.end());
    for (size_t i = 0; i < body_size; ++i)
        b.push_back(i == 0 ? first : static_cast<uint8_t>(i));
    return b;
}

bytes operator+(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct framing_case {
    const char* name;
    bytes input;
    std::vector<std::string> expected;
    bool key_first = false;
};

// A body of size bytes in partial-length pieces of one byte, then an empty
// last piece.
bytes one_byte_pieces(uint8_t ctb, size_t size) {
    bytes b{ctb};
    for (size_t i = 0; i < size; ++i) {
        b.push_back(0xE0);
        b.push_back(static_cast<uint8_t>(i));
    }
    b.push_back(0);
    return b;
}

TEST(OpenpgpPackets, FramingCasesGiveTheSameReportsWholeOrByteByByte) {
    // Old format, two-byte length, tag 6: a v4 RSA key with a one-byte
    // modulus and exponent.
    const bytes key{0x99, 0, 12, 4, 0, 0, 0, 0, 1, 0, 8, 0xFF, 0, 2, 3};
    const std::vector<framing_case> cases = {
        {"old format lengths of one, two and four bytes",
         packet(0x98, {3}, 3) + packet(0x99, {0, 4}, 4) + packet(0x8A, {0, 0, 0, 5}, 5),
         {"6:3@0", "6:4@5", "2:5@12"}},
        {"new format lengths: one, two and five bytes",
         packet(0xC2, {100}, 100) + packet(0xCD, {192, 8}, 200) +
             packet(0xC6, {255, 0, 0, 0, 7}, 7),
         {"2:100@0", "13:200@102", "6:7@305"}},
        {"partial lengths are joined into one body",
         bytes{0xC2, 0xE1, 1, 2, 0xE0, 3, 2, 4, 5},
         {"2:5@0"}},
        {"a length of 4 GB is skipped, not allocated, up to the end",
         bytes{0xC2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3},
         {"oversized@0", "cut@9"}},
        {"junk before a key is skipped up to it",
         bytes{'x', 'y', 'z'} + key,
         {"junk@0", "skipped:3@0", "6:12@3"}},
        {"junk that looks like a header but not a key packet",
         key + bytes{0x00, 0x99, 0x00, 0x02, 9, 9} + key,
         {"6:12@0", "junk@15", "skipped:6@15", "6:12@21"}},
        {"after junk, an RSA key packet whose fields do not fill it is junk too",
         key + bytes{0x00, 0x99, 0, 12, 4, 0, 0, 0, 0, 1, 0, 9, 0xFF, 0, 2, 3} + key,
         {"6:12@0", "junk@15", "skipped:16@15", "6:12@31"}},
        {"after junk, a key of an unknown algorithm counts before a user id",
         key + bytes{0x00} + packet(0x99, {0, 10}, 10) + packet(0xB4, {1}, 1, 'a'),
         {"6:12@0", "junk@15", "skipped:1@15", "6:10@16", "13:1@29"}},
        {"but not before another key",
         key + bytes{0x00} + packet(0x99, {0, 10}, 10) + key,
         {"6:12@0", "junk@15", "skipped:14@15", "6:12@29"}},
        {"a packet cut off by the end", key + packet(0xC2, {100}, 10), {"6:12@0", "cut@15"}},
        {"indeterminate length", bytes{0x8B, 1, 2} + key, {"junk@0", "skipped:3@0", "6:12@3"}},
        {"the reserved tag 0", bytes{0xC0, 1, 0} + key, {"junk@0", "skipped:3@0", "6:12@3"}},
        {"junk up to the end", key + bytes{0x00, 1, 2}, {"6:12@0", "junk@15", "skipped:3@15"}},
        {"one-byte partial pieces", one_byte_pieces(0xCD, 300) + key, {"13:300@0", "6:12@602"}},
        {"partial pieces cut off by the end", bytes{0xC2, 0xE1, 1, 2, 0xE1, 3}, {"cut@0"}},
        {"an input that must start with a key, from inside a packet",
         bytes{1, 2, 3} + key,
         {"skipped:3@0", "6:12@3"},
         true},
        {"an input that must start with a key, at a header claiming 4 GB",
         bytes{0x8E, 0xFF, 0xFF, 0xFF, 0xFF} + key,
         {"skipped:5@0", "6:12@5"},
         true},
        {"an input that must start with a key and does", key + key, {"6:12@0", "6:12@15"}, true},
        {"an input that must start with a key, with none", bytes{1, 2, 3}, {"skipped:3@0"}, true},
        {"an oversized packet is skipped exactly, the next one read",
         packet(0xC2, {255, 0, 0x50, 0, 1}, (size_t{5} << 20) + 1) + key,
         {"oversized@0", "2:0@0"}},
        {"oversized in partial pieces: the rest skipped piece by piece",
         bytes{0xC2, 0xF6} + bytes(size_t{4} << 20, 7) + bytes{0xE0, 7, 0} + key,
         {"oversized@0", "2:0@0"}},
    };
    for (const framing_case& c : cases) {
        std::vector<std::string> expected = c.expected;
        if (std::string(c.name).rfind("oversized in", 0) == 0 ||
            std::string(c.name).rfind("an oversized", 0) == 0)
            expected[1] = "6:12@" + std::to_string(c.input.size() - key.size());
        EXPECT_EQ(run(c.input, c.input.size() + 1, nullptr, c.key_first), expected) << c.name;
        EXPECT_EQ(run(c.input, c.input.size() < 4096 ? 1 : 997, nullptr, c.key_first), expected)
            << c.name << ", byte by byte";
        EXPECT_EQ(run(c.input, 4093, nullptr, c.key_first), expected)
            << c.name << ", in odd chunks";
    }
}

TEST(OpenpgpPackets, MemoryStaysBoundedByTheLargestKeptPacket) {
    bytes huge = packet(0xC2, {255, 0x7F, 0xFF, 0xFF, 0xFF}, 24u << 20);
    size_t max_buffer = 0;
    run(huge, 1 << 20, &max_buffer);
    EXPECT_LT(max_buffer, PACKET_BODY_MAX + (2u << 20));
}

} // namespace
