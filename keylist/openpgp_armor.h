// A streaming decoder of ASCII-armored OpenPGP data: any number of
// "-----BEGIN PGP PUBLIC KEY BLOCK-----" ... "-----END ...-----" blocks with
// text between them. Each block's radix-64 body is decoded as it streams in
// and checked against its CRC-24 line when it has one.
//
// A block's decoded bytes are held until its end line, so that a block whose
// checksum is wrong can be dropped whole, up to ARMOR_BLOCK_HELD bytes; a
// larger block is passed on as it decodes, and a wrong checksum on it is
// reported but cannot take back what was passed on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

constexpr size_t ARMOR_BLOCK_HELD = size_t{64} << 20;

struct armor_decoder {
    // Decoded bytes of the current block, in order.
    std::function<void(std::span<const uint8_t>)> on_data;
    // The end of a block: ok is false when its checksum or radix-64 was
    // wrong (what says how); the bytes held for it were then dropped.
    std::function<void(bool ok, uint64_t offset, const std::string& what)> on_block_end;

    enum class state { outside, headers, body, checksum_seen };
    state where = state::outside;
    std::string line; // the current line in outside/headers (bounded)
    bool line_overlong = false;
    bool at_line_start = true;
    uint64_t offset = 0; // of the next input byte
    uint64_t block_offset = 0;
    uint64_t blocks = 0;

    uint32_t quad = 0; // radix-64 digits collected
    int digits = 0;
    int padding = 0;
    bool bad_radix64 = false;
    uint32_t crc = 0;
    std::string crc_text; // the digits after "=" on the checksum line
    bool in_crc_line = false;
    bool in_end_line = false;
    std::vector<uint8_t> held;
    bool streaming = false; // the block outgrew ARMOR_BLOCK_HELD
};

void feed_armor(armor_decoder& d, const uint8_t* data, size_t size);

// Ends the input: a block without its end line is reported as cut off.
void finish_armor(armor_decoder& d);

// Whether data (the start of an input) holds an armor header line for key
// data at the start of one of its lines.
bool looks_armored(std::span<const uint8_t> data);
