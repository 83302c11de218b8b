#include "names_file.h"

#include "visible_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/stat.h>

namespace {

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

namespace {

// The key id field and the tab: "16HEX<TAB>".
constexpr size_t HEAD_SIZE = 17;

constexpr size_t READ_BLOCK = size_t{1} << 20;

bool parse_head(const std::string& line, uint64_t& id) {
    if (line.size() < HEAD_SIZE || line[16] != '\t') return false;
    id = 0;
    for (size_t k = 0; k < 16; ++k) {
        const int v = hex_value(line[k]);
        if (v < 0) return false;
        id = (id << 4) | static_cast<uint64_t>(v);
    }
    return true;
}

// Drops a UTF-8 sequence that the cut at the line limit split.
void trim_split_sequence(std::string& line) {
    size_t start = line.size();
    while (start > HEAD_SIZE && (static_cast<unsigned char>(line[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start > HEAD_SIZE && utf8_sequence_length(line, start - 1) == 0) line.resize(start - 1);
}

} // namespace

bool read_names(const std::string& path, const names_receiver& take, std::string& error,
                const names_warning& warn) {
    std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "re"));
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    int64_t line_number = 1;
    bool cut = false;
    uint64_t id = 0;
    const auto where = [&] { return path + ":" + std::to_string(line_number) + ": "; };
    const auto fail = [&](const char* what) {
        error = where() + what;
        return false;
    };
    const char* const bad_head = "expected 16 hex digits and a tab";
    std::unique_ptr<char[]> block(new char[READ_BLOCK]);
    for (;;) {
        const size_t got = std::fread(block.get(), 1, READ_BLOCK, file.get());
        if (got == 0) break;
        const char* at = block.get();
        const char* const end = at + got;
        while (at < end) {
            const auto* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
            const char* piece_end = newline != nullptr ? newline : end;
            const auto piece = static_cast<size_t>(piece_end - at);
            const size_t room = NAMES_LINE_MAX - line.size();
            const size_t before = line.size();
            line.append(at, std::min(piece, room));
            if (piece > room && !cut) {
                if (warn)
                    warn(where() + "line longer than " + std::to_string(NAMES_LINE_MAX) +
                         " bytes; the rest of it is left out");
                cut = true;
            }
            // Checked at once, so that a file of one endless line (such as
            // /dev/zero) fails here rather than being read to its end.
            if (before < HEAD_SIZE && line.size() >= HEAD_SIZE && !parse_head(line, id))
                return fail(bad_head);
            if (newline == nullptr) break;
            at = newline + 1;
            if (!parse_head(line, id)) return fail(bad_head);
            if (cut) trim_split_sequence(line);
            take(id, std::string_view(line).substr(HEAD_SIZE));
            line.clear();
            cut = false;
            ++line_number;
        }
    }
    if (std::ferror(file.get())) {
        error = path + ": read error";
        return false;
    }
    if (!line.empty()) return fail("last line has no line end");
    return true;
}

bool read_names_file(const std::string& path, key_names& names, std::string& error,
                     const names_warning& warn) {
    // Room for the names a regular file of this size may hold (lines of
    // about 40 bytes), so that the table is not rebuilt as it grows.
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        names.reserve(names.size() + static_cast<size_t>(info.st_size / 40));
    return read_names(
        path, [&names](uint64_t id, std::string_view name) { names.try_emplace(id, name); }, error,
        warn);
}
