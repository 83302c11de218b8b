#include "dump_writer.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr char base64_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Writes 1 to 3 bytes as a base64 group, padded with '='.
void put_group(std::FILE* file, const uint8_t* data, size_t n) {
    uint32_t v = uint32_t{data[0]} << 16;
    if (n > 1) v |= uint32_t{data[1]} << 8;
    if (n > 2) v |= data[2];
    char group[4];
    for (size_t k = 0; k < 4; ++k)
        group[k] = k <= n ? base64_alphabet[(v >> (18 - 6 * k)) & 63] : '=';
    (void)std::fwrite(group, 1, 4, file); // errors show in ferror at close
}

} // namespace

bool open_dump_file(dump_file& out, const std::string& path, bool armor, std::string& error) {
    out = dump_file();
    out.armor = armor;
    out.name = path.empty() ? "standard output" : path;
    out.file = path.empty() ? stdout : std::fopen(path.c_str(), "wb");
    if (out.file == nullptr) {
        error = "'" + path + "': " + std::strerror(errno);
        return false;
    }
    if (armor)
        (void)std::fputs("-----BEGIN PGP PUBLIC KEY BLOCK-----\n\n", out.file); // checked at close
    return true;
}

void write_dump_bytes(dump_file& out, std::span<const uint8_t> data) {
    if (data.empty()) return; // an empty span may have no buffer, and fwrite wants one
    if (!out.armor) {
        (void)std::fwrite(data.data(), 1, data.size(), out.file); // checked at close
        return;
    }
    for (const uint8_t b : data) {
        // CRC-24 with the generator 0x864CFB.
        out.crc ^= uint32_t{b} << 16;
        for (int i = 0; i < 8; ++i) {
            out.crc <<= 1;
            if ((out.crc & 0x1000000) != 0) out.crc ^= 0x1864CFB;
        }
        out.carry[out.carried++] = b;
        if (out.carried == 3) {
            put_group(out.file, out.carry, 3);
            out.carried = 0;
            out.column += 4;
            if (out.column == 64) {
                (void)std::fputc('\n', out.file);
                out.column = 0;
            }
        }
    }
}

bool close_dump_file(dump_file& out, std::string& error) {
    if (out.armor) {
        if (out.carried != 0) {
            put_group(out.file, out.carry, out.carried);
            out.column += 4;
        }
        if (out.column != 0) (void)std::fputc('\n', out.file);
        const uint8_t crc[3] = {static_cast<uint8_t>(out.crc >> 16),
                                static_cast<uint8_t>(out.crc >> 8), static_cast<uint8_t>(out.crc)};
        (void)std::fputc('=', out.file);
        put_group(out.file, crc, 3);
        (void)std::fputs("\n-----END PGP PUBLIC KEY BLOCK-----\n", out.file);
    }
    bool ok = std::fflush(out.file) == 0 && std::ferror(out.file) == 0;
    const int saved = errno;
    if (out.file != stdout && std::fclose(out.file) != 0) ok = false;
    out.file = nullptr;
    if (!ok) error = "'" + out.name + "': " + std::strerror(saved != 0 ? saved : errno);
    return ok;
}
