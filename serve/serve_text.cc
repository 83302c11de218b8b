#include "serve_text.h"

#include "html_text.h"
#include "key_name.h"
#include "path_output.h"

std::string key_hex(const served_data& data, int32_t k) {
    return hex_key_id(data.ix.ids[static_cast<size_t>(k)]);
}

namespace {

// The length of the UTF-8 sequence at text[i] (shortest form, no
// surrogates, at most U+10FFFF), or 0 when the bytes there are not one.
size_t utf8_length(std::string_view text, size_t i) {
    auto at = [&text](size_t j) { return static_cast<unsigned char>(text[j]); };
    unsigned char c = at(i);
    if (c < 0x80) return 1;
    size_t n = c >= 0xC2 && c <= 0xDF   ? 2
               : c >= 0xE0 && c <= 0xEF ? 3
               : c >= 0xF0 && c <= 0xF4 ? 4
                                        : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (size_t j = 1; j < n; ++j)
        if ((at(i + j) & 0xC0) != 0x80) return 0;
    unsigned char d = at(i + 1);
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) ||
        (c == 0xF4 && d > 0x8F))
        return 0;
    return n;
}

} // namespace

std::string valid_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t n = utf8_length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string json_text(std::string_view text) {
    return json_string(valid_utf8(text));
}

std::string html_text(std::string_view text) {
    return html_escape(valid_utf8(text));
}

std::string html_name(std::string_view name) {
    return "<bdi>" + html_escape(name) + "</bdi>";
}

std::string url_query_escape(std::string_view text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        }
    }
    return out;
}

std::string html_key_link(const served_data& data, int32_t k) {
    std::string hex = key_hex(data, k);
    std::string out = "<a class=\"id\" href=\"/key/" + hex + "\">" + hex.substr(0, 8) + " " +
                      hex.substr(8) + "</a>";
    if (std::optional<std::string_view> name = key_name_of(data, k))
        out += " <span class=\"name\">" + html_name(*name) + "</span>";
    return out;
}
