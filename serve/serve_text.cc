#include "serve_text.h"

#include "html_text.h"
#include "json_text.h"
#include "key_name.h"
#include "visible_text.h"

std::string key_hex(const served_data& data, int32_t k) {
    return hex_key_id(data.ix.ids[static_cast<size_t>(k)]);
}

std::string json_text(std::string_view text) {
    return json_string(text);
}

std::string html_text(std::string_view text) {
    return html_escape(visible_text(text));
}

std::string html_lines(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        size_t end = text.find('\n');
        out += html_text(text.substr(0, end));
        if (end == std::string_view::npos) break;
        out += '\n';
        text.remove_prefix(end + 1);
    }
    return out;
}

std::string html_name(std::string_view name) {
    return "<bdi>" + html_text(name) + "</bdi>";
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
