#include "json_text.h"

#include "visible_text.h"

#include <cstdio>

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const decoded_char c = decode_utf8(text, i);
        if (c.code_point == '"' || c.code_point == '\\') {
            out += '\\';
            out += static_cast<char>(c.code_point);
        } else if (is_hidden_code_point(c.code_point)) {
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
    out += '"';
    return out;
}
