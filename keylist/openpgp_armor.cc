#include "openpgp_armor.h"

#include <cstring>
#include <string_view>

namespace {

constexpr size_t LINE_KEPT = 200; // armor lines outside the body are short
constexpr std::string_view BEGIN_PUBLIC = "-----BEGIN PGP PUBLIC KEY BLOCK-----";

int radix64_value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

uint32_t crc24_update(uint32_t crc, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t{data[i]} << 16;
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if ((crc & 0x1000000) != 0) crc ^= 0x1864CFB;
        }
    }
    return crc & 0xFFFFFF;
}

std::string_view trimmed(const std::string& s) {
    size_t end = s.size();
    while (end > 0 && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r'))
        --end;
    return std::string_view(s).substr(0, end);
}

void emit(armor_decoder& d, const uint8_t* bytes, size_t n) {
    d.crc = crc24_update(d.crc, bytes, n);
    if (d.streaming) {
        if (d.on_data) d.on_data(std::span<const uint8_t>(bytes, n));
        return;
    }
    d.held.insert(d.held.end(), bytes, bytes + n);
    if (d.held.size() > ARMOR_BLOCK_HELD) {
        d.streaming = true;
        if (d.on_data) d.on_data(d.held);
        d.held.clear();
        d.held.shrink_to_fit();
    }
}

void start_block(armor_decoder& d) {
    d.where = armor_decoder::state::headers;
    d.block_offset = d.offset;
    d.quad = 0;
    d.digits = 0;
    d.padding = 0;
    d.bad_radix64 = false;
    d.crc = 0xB704CE;
    d.crc_text.clear();
    d.in_crc_line = false;
    d.in_end_line = false;
    d.held.clear();
    d.streaming = false;
}

void end_block(armor_decoder& d, bool cut_off) {
    std::string what;
    if (cut_off) {
        what = "armored block without its end line";
    } else if (d.bad_radix64 || d.digits != 0) {
        what = "armored block with malformed radix-64";
    } else if (!d.crc_text.empty()) {
        uint32_t expected = 0;
        bool ok = d.crc_text.size() == 4;
        for (size_t i = 0; ok && i < 4; ++i) {
            const int v = radix64_value(static_cast<uint8_t>(d.crc_text[i]));
            ok = v >= 0;
            expected = expected << 6 | static_cast<uint32_t>(v < 0 ? 0 : v);
        }
        if (!ok)
            what = "armored block with a malformed checksum line";
        else if (expected != d.crc)
            what = "armored block whose CRC-24 does not match";
    }
    const bool ok = what.empty();
    if (ok && !d.held.empty() && d.on_data) d.on_data(d.held);
    d.held.clear();
    ++d.blocks;
    if (d.on_block_end) d.on_block_end(ok, d.block_offset, what);
    d.where = armor_decoder::state::outside;
}

// A complete line outside a block or among its headers.
void take_line(armor_decoder& d) {
    const std::string_view line = trimmed(d.line);
    if (d.where == armor_decoder::state::outside) {
        if (!d.line_overlong && line == BEGIN_PUBLIC) start_block(d);
        return;
    }
    // Headers ("Key: value") end at an empty line. A line without a colon
    // is taken as the first body line of armor written without the empty
    // line, as some tools do.
    if (line.empty()) {
        d.where = armor_decoder::state::body;
        return;
    }
    if (line.find(':') != std::string_view::npos) return;
    d.where = armor_decoder::state::body;
    for (char c : line) {
        const uint8_t byte = static_cast<uint8_t>(c);
        const int v = radix64_value(byte);
        if (v < 0) continue;
        d.quad = d.quad << 6 | static_cast<uint32_t>(v);
        if (++d.digits == 4) {
            const uint8_t out[3] = {static_cast<uint8_t>(d.quad >> 16),
                                    static_cast<uint8_t>(d.quad >> 8),
                                    static_cast<uint8_t>(d.quad)};
            emit(d, out, 3);
            d.quad = 0;
            d.digits = 0;
        }
    }
}

// A byte of the body, the checksum line or the end line.
void take_body_byte(armor_decoder& d, uint8_t c) {
    if (c == '\n') {
        if (d.in_end_line) {
            end_block(d, false);
            d.at_line_start = true;
            return;
        }
        d.in_crc_line = false;
        d.at_line_start = true;
        return;
    }
    if (d.at_line_start) {
        d.at_line_start = false;
        if (c == '=') {
            d.in_crc_line = true;
            d.crc_text.clear();
            // Padding ends the data: what is left in the quad is flushed.
            return;
        }
        if (c == '-') {
            d.in_end_line = true;
            return;
        }
    }
    if (d.in_end_line) return;
    if (d.in_crc_line) {
        if (radix64_value(c) >= 0 && d.crc_text.size() < 8)
            d.crc_text.push_back(static_cast<char>(c));
        return;
    }
    if (c == '=') {
        // Padding: one or two "=" close the last group.
        ++d.padding;
        if (d.digits == 2 && d.padding == 2) {
            const uint8_t out[1] = {static_cast<uint8_t>(d.quad >> 4)};
            emit(d, out, 1);
            d.digits = 0;
            d.quad = 0;
        } else if (d.digits == 3 && d.padding == 1) {
            const uint8_t out[2] = {static_cast<uint8_t>(d.quad >> 10),
                                    static_cast<uint8_t>(d.quad >> 2)};
            emit(d, out, 2);
            d.digits = 0;
            d.quad = 0;
        } else if (d.digits != 0 && d.padding > 2) {
            d.bad_radix64 = true;
        }
        return;
    }
    const int v = radix64_value(c);
    if (v < 0) {
        if (c != ' ' && c != '\t' && c != '\r') d.bad_radix64 = true;
        return;
    }
    if (d.padding > 0 && d.digits == 0) d.padding = 0;
    d.quad = d.quad << 6 | static_cast<uint32_t>(v);
    if (++d.digits == 4) {
        const uint8_t out[3] = {static_cast<uint8_t>(d.quad >> 16),
                                static_cast<uint8_t>(d.quad >> 8), static_cast<uint8_t>(d.quad)};
        emit(d, out, 3);
        d.quad = 0;
        d.digits = 0;
    }
}

} // namespace

void feed_armor(armor_decoder& d, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (d.where == armor_decoder::state::body) {
            take_body_byte(d, c);
        } else if (c == '\n') {
            take_line(d);
            d.line.clear();
            d.line_overlong = false;
            d.at_line_start = true;
        } else if (d.line.size() < LINE_KEPT) {
            d.line.push_back(static_cast<char>(c));
        } else {
            d.line_overlong = true;
        }
        ++d.offset;
    }
}

void finish_armor(armor_decoder& d) {
    if (d.where == armor_decoder::state::body && d.in_end_line) {
        end_block(d, false);
    } else if (d.where != armor_decoder::state::outside) {
        end_block(d, true);
    }
    d.line.clear();
}

bool looks_armored(std::span<const uint8_t> data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    for (size_t at = text.find(BEGIN_PUBLIC); at != std::string_view::npos;
         at = text.find(BEGIN_PUBLIC, at + 1))
        if (at == 0 || text[at - 1] == '\n') return true;
    return false;
}
