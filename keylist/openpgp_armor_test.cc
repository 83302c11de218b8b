#include "keylist_inputs.h"
#include "openpgp_armor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string radix64(const std::vector<uint8_t>& data) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t v = uint32_t{data[i]} << 16;
        if (i + 1 < data.size()) v |= uint32_t{data[i + 1]} << 8;
        if (i + 2 < data.size()) v |= data[i + 2];
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += i + 1 < data.size() ? digits[(v >> 6) & 63] : '=';
        out += i + 2 < data.size() ? digits[v & 63] : '=';
        if ((i / 3) % 16 == 15) out += '\n';
    }
    return out;
}

uint32_t crc24(const std::vector<uint8_t>& data) {
    uint32_t crc = 0xB704CE;
    for (uint8_t b : data) {
        crc ^= uint32_t{b} << 16;
        for (int i = 0; i < 8; ++i) {
            crc <<= 1;
            if ((crc & 0x1000000) != 0) crc ^= 0x1864CFB;
        }
    }
    return crc & 0xFFFFFF;
}

std::string armored(const std::vector<uint8_t>& data, bool with_crc = true, uint32_t crc_xor = 0) {
    std::string text =
        "-----BEGIN PGP PUBLIC KEY BLOCK-----\nComment: test\n\n" + radix64(data) + "\n";
    if (with_crc) {
        const uint32_t c = crc24(data) ^ crc_xor;
        text += "=" +
                radix64({static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                         static_cast<uint8_t>(c)}) +
                "\n";
    }
    return text + "-----END PGP PUBLIC KEY BLOCK-----\n";
}

struct decoded {
    std::vector<std::vector<uint8_t>> blocks; // the data of each accepted block
    std::vector<std::string> errors;
};

decoded decode(const std::string& text, size_t chunk) {
    decoded d;
    std::vector<uint8_t> current;
    armor_decoder a;
    a.on_data = [&current](std::span<const uint8_t> data) {
        current.insert(current.end(), data.begin(), data.end());
    };
    a.on_block_end = [&](bool ok, uint64_t, const std::string& what) {
        if (ok)
            d.blocks.push_back(current);
        else
            d.errors.push_back(what);
        current.clear();
    };
    for (size_t at = 0; at < text.size(); at += chunk)
        feed_armor(a, reinterpret_cast<const uint8_t*>(text.data()) + at,
                   std::min(chunk, text.size() - at));
    finish_armor(a);
    return d;
}

TEST(OpenpgpArmor, BlocksChecksumsAndTextBetween) {
    std::vector<uint8_t> one, two;
    for (int i = 0; i < 100; ++i)
        one.push_back(static_cast<uint8_t>(i * 7));
    for (int i = 0; i < 3001; ++i)
        two.push_back(static_cast<uint8_t>(i * 13 + 1));
    const std::vector<uint8_t> short_one = {0x99};
    struct armor_case {
        const char* name;
        std::string text;
        std::vector<std::vector<uint8_t>> blocks;
        size_t errors;
    };
    const std::vector<armor_case> cases = {
        {"two blocks with text around them",
         "Keys:\n" + armored(one) + "between\r\n" + armored(two) + "after\n",
         {one, two},
         0},
        {"no checksum line", armored(two, false), {two}, 0},
        {"padding", armored(short_one), {short_one}, 0},
        {"a wrong checksum drops the block, not the next one",
         armored(one, true, 1) + armored(two),
         {two},
         1},
        {"a block cut off", armored(one).substr(0, 80), {}, 1},
        {"CRLF line ends",
         [&] {
             std::string t;
             for (char c : armored(one))
                 t += c == '\n' ? std::string("\r\n") : std::string(1, c);
             return t;
         }(),
         {one},
         0},
        {"no armor at all", "just text\n", {}, 0},
    };
    for (const armor_case& c : cases) {
        for (size_t chunk : {c.text.size() + 1, size_t{1}, size_t{7}}) {
            const decoded d = decode(c.text, chunk);
            EXPECT_EQ(d.blocks, c.blocks) << c.name << ", chunk " << chunk;
            EXPECT_EQ(d.errors.size(), c.errors) << c.name << ", chunk " << chunk;
        }
    }
}

TEST(InputKind, RecognisedFromTheFirstBytes) {
    auto kind = [](const std::string& s) {
        return detect_input_kind(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
    };
    EXPECT_EQ(kind(""), input_kind::empty);
    EXPECT_EQ(kind("\x99\x01\x0d\x04"), input_kind::openpgp_binary);
    EXPECT_EQ(kind("\xc6\x33\x04"), input_kind::openpgp_binary);
    EXPECT_EQ(kind("-----BEGIN PGP PUBLIC KEY BLOCK-----\n"), input_kind::openpgp_armored);
    EXPECT_EQ(kind("Our keys:\n\n-----BEGIN PGP PUBLIC KEY BLOCK-----\n"),
              input_kind::openpgp_armored);
    // Bytes no listing holds (control characters): key data starting inside
    // a packet, read from its first key (a program holds none and is
    // refused there).
    EXPECT_EQ(kind("\x7f"
                   "ELF\x02\x01"),
              input_kind::openpgp_binary);
    EXPECT_EQ(kind(std::string("\x01\x07\x40\x99\x00\x33\x04", 7)), input_kind::openpgp_binary);
    // Listings (UTF-8, tabs and CR LF included) and other text go to the
    // listing reader, which refuses what holds no listing record.
    EXPECT_EQ(kind("tru::1:1:0:3:1:5\npub:-:255:22:"), input_kind::listing);
    EXPECT_EQ(kind("uid:-::::1::H::J\xc3\xbcrgen\t<j@example.org>:\r\n"), input_kind::listing);
    EXPECT_EQ(kind("# README\nsee -----BEGIN PGP PUBLIC KEY BLOCK----- below"),
              input_kind::listing);
}

} // namespace
