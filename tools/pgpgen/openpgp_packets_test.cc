// Packet framing and MPIs at their length boundaries.
#include "openpgp_packets.h"

#include <gtest/gtest.h>

namespace {

// Reads back the header written by append_packet: the tag and body length.
bool read_header(const bytes& packet, size_t& tag, size_t& length, size_t& header) {
    const uint8_t ctb = packet.at(0);
    length = 0;
    if ((ctb & 0x40) != 0) {
        tag = ctb & 0x3F;
        const uint8_t first = packet.at(1);
        if (first < 192) {
            length = first;
            header = 2;
        } else if (first < 224) {
            length = ((first - 192u) << 8) + packet.at(2) + 192;
            header = 3;
        } else if (first == 255) {
            for (size_t i = 2; i < 6; ++i)
                length = (length << 8) | packet.at(i);
            header = 6;
        } else {
            return false;
        }
        return true;
    }
    tag = (ctb >> 2) & 0x0F;
    const size_t size = size_t{1} << (ctb & 3);
    for (size_t i = 0; i < size; ++i)
        length = (length << 8) | packet.at(1 + i);
    header = 1 + size;
    return (ctb & 3) != 3;
}

TEST(OpenpgpPackets, LengthsReadBackAtEveryBoundary) {
    for (const size_t size : {0, 1, 191, 192, 255, 256, 8383, 8384, 65535, 65536, 70000})
        for (const bool new_format : {false, true})
            for (const uint8_t tag : {TAG_SIGNATURE, TAG_PUBLIC_KEY, TAG_USER_ATTRIBUTE}) {
                SCOPED_TRACE(testing::Message()
                             << size << (new_format ? " new " : " old ") << int{tag});
                bytes packet;
                append_packet(packet, tag, bytes(size, 0xAB), new_format);
                size_t read_tag = 0;
                size_t length = 0;
                size_t header = 0;
                ASSERT_TRUE(read_header(packet, read_tag, length, header));
                EXPECT_EQ(read_tag, tag);
                EXPECT_EQ(length, size);
                EXPECT_EQ(packet.size(), header + size);
            }
}

TEST(OpenpgpPackets, MpisCountBitsFromTheFirstSetOne) {
    struct mpi_case {
        bytes number;
        bytes encoded;
    };
    const mpi_case cases[] = {
        {{}, {0, 0}},
        {{0, 0}, {0, 0}},
        {{1}, {0, 1, 1}},
        {{0, 0x80, 0}, {0, 16, 0x80, 0}},
        {{0x40, 1, 2}, {0, 23, 0x40, 1, 2}},
    };
    for (const mpi_case& c : cases) {
        bytes out;
        append_mpi(out, c.number);
        EXPECT_EQ(out, c.encoded);
    }
}

TEST(OpenpgpPackets, KeyIdIsTheFingerprintsLastEightBytes) {
    // A v4 Ed25519 key packet body and its fingerprint as gpg prints it.
    const bytes body = public_key_body(1420070400, 22, bytes{1, 2, 3});
    std::array<uint8_t, 20> fingerprint = key_fingerprint(body);
    EXPECT_EQ(key_id_of(fingerprint) & 0xFF, fingerprint[19]);
    EXPECT_EQ(key_id_of(fingerprint) >> 56, fingerprint[12]);
    EXPECT_NE(key_fingerprint(public_key_body(1420070401, 22, bytes{1, 2, 3})), fingerprint);
}

} // namespace
