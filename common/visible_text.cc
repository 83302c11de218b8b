#include "visible_text.h"

#include <cstdio>

size_t utf8_sequence_length(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
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
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3FU);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

decoded_char decode_utf8(std::string_view text, size_t i) {
    const size_t length = utf8_sequence_length(text, i);
    if (length == 0) return {REPLACEMENT_CHARACTER, 1};
    const auto lead = static_cast<unsigned char>(text[i]);
    static constexpr unsigned char LEAD_BITS[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t code = lead & LEAD_BITS[length];
    for (size_t k = 1; k < length; ++k)
        code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3FU);
    return {code, length};
}

bool is_hidden_code_point(uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void append_utf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string visible_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const decoded_char c = decode_utf8(text, i);
        if (is_hidden_code_point(c.code_point)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c.code_point));
            out += escape;
        } else if (c.code_point == REPLACEMENT_CHARACTER && c.length == 1) {
            append_utf8(out, REPLACEMENT_CHARACTER);
        } else {
            out.append(text.substr(i, c.length));
        }
        i += c.length;
    }
    return out;
}
