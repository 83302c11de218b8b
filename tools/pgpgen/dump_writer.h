// Writes the dump's bytes to a file, plain or ASCII-armored as they come.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

struct dump_file {
    std::FILE* file = nullptr;
    std::string name;
    bool armor = false;
    uint32_t crc = 0xB704CE; // the armor checksum (CRC-24) of the bytes so far
    uint8_t carry[3] = {};   // bytes waiting for a full base64 group
    size_t carried = 0;
    size_t column = 0;
};

// Opens path ("" for standard output) and, when armored, writes the header.
bool open_dump_file(dump_file& out, const std::string& path, bool armor, std::string& error);
void write_dump_bytes(dump_file& out, std::span<const uint8_t> data);
// Writes the armor's tail and closes; false with error when anything failed.
bool close_dump_file(dump_file& out, std::string& error);
