#include "names_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0.
size_t utf8_sequence_length(std::string_view s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    uint32_t min = 0;
    uint32_t code = 0;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        min = 0x80;
        code = lead & 0x1FU;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        min = 0x800;
        code = lead & 0x0FU;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        min = 0x10000;
        code = lead & 0x07U;
    } else
        return 0;
    if (i + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3FU);
    }
    // Overlong forms, surrogates and values past Unicode are not valid UTF-8.
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct file_closer {
    void operator()(std::FILE* f) const { (void)std::fclose(f); } // read only: nothing to lose
};

} // namespace

std::string escape_user_id(std::string_view raw) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size();) {
        const auto c = static_cast<unsigned char>(raw[i]);
        const size_t length = utf8_sequence_length(raw, i);
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (length == 0 || c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0xF];
            ++i;
        } else {
            out.append(raw.substr(i, length));
            i += length;
        }
    }
    return out;
}

bool read_names_file(const std::string& path, key_names& names, std::string& error) {
    std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "re"));
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    int64_t line_number = 0;
    const auto fail = [&](const char* what) {
        error = path + ":" + std::to_string(line_number) + ": " + what;
        return false;
    };
    for (;;) {
        line.clear();
        int c = 0;
        while ((c = std::getc(file.get())) != EOF && c != '\n')
            line += static_cast<char>(c);
        if (c == EOF && line.empty()) break;
        ++line_number;
        if (c == EOF) return fail("last line has no line end");
        if (line.size() < 17 || line[16] != '\t') return fail("expected 16 hex digits and a tab");
        uint64_t id = 0;
        for (int k = 0; k < 16; ++k) {
            const int v = hex_value(line[k]);
            if (v < 0) return fail("expected 16 hex digits and a tab");
            id = (id << 4) | static_cast<uint64_t>(v);
        }
        names.try_emplace(id, line.substr(17));
    }
    if (std::ferror(file.get())) {
        error = path + ": read error";
        return false;
    }
    return true;
}
