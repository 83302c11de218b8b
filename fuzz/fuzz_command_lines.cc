// The command-file line splitter: whatever sizes the reads bring the bytes
// in, it must run the same lines and end with the same status and the same
// unfinished rest as one read of everything that fits, and as a plain
// splitter written here.
//
// Input: byte 0 holds the number of read sizes (low three bits) and a flag
// (bit 3) that expands runs; then the read sizes, one byte each, used in
// turn; then the command file. With the flag, 0x01 and two bytes h l stand
// for h * 256 + l copies of 'x', so that lines near the 64 KiB limit are
// within the fuzzer's reach.
#include "command_file_lines.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr size_t MAX_EXPANDED = 3 * static_cast<size_t>(LINE_BUFFER_SIZE);

struct split_result {
    std::vector<std::string> lines;
    line_scan_status status = LINES_OK;
    std::string rest; // the unfinished last line, when the status is LINES_OK
};

// Feeds the file as reads would: each read brings the next size in turn, or
// less when the file ends or the buffer has less room.
split_result split_in_reads(const std::string& file, const std::vector<size_t>& read_sizes) {
    static command_line_buffer buffer;
    buffer.held = 0;
    split_result result;
    size_t offset = 0;
    for (size_t turn = 0; offset < file.size(); ++turn) {
        FUZZ_CHECK(buffer.free_space() > 0);
        size_t n = std::min({read_sizes[turn % read_sizes.size()], file.size() - offset,
                             static_cast<size_t>(buffer.free_space())});
        std::memcpy(buffer.free_start(), file.data() + offset, n);
        offset += n;
        result.status = scan_command_lines(buffer, static_cast<int>(n), [&](const char* line) {
            result.lines.emplace_back(line);
        });
        if (result.status != LINES_OK) return result;
        FUZZ_CHECK(buffer.held >= 0 && buffer.held < LINE_BUFFER_SIZE);
    }
    result.rest.assign(buffer.data, static_cast<size_t>(buffer.held));
    return result;
}

// The obvious splitter: a line that cannot fit the buffer with its newline is
// too long (even unfinished), a finished line with a NUL is refused; either
// ends the file after the lines before it.
split_result split_plainly(const std::string& file) {
    split_result result;
    size_t start = 0;
    while (start < file.size()) {
        size_t newline = file.find('\n', start);
        size_t end = newline == std::string::npos ? file.size() : newline;
        if (end - start >= static_cast<size_t>(LINE_BUFFER_SIZE)) {
            result.status = LINE_TOO_LONG;
            return result;
        }
        if (newline == std::string::npos) {
            result.rest = file.substr(start);
            return result;
        }
        std::string line = file.substr(start, end - start);
        if (line.find('\0') != std::string::npos) {
            result.status = LINE_HAS_NUL;
            return result;
        }
        result.lines.push_back(line);
        start = newline + 1;
    }
    return result;
}

bool same(const split_result& a, const split_result& b) {
    return a.lines == b.lines && a.status == b.status && a.rest == b.rest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
    size_t sizes_count = bytes[0] & 7;
    bool expand = (bytes[0] & 8) != 0;
    if (size < 1 + sizes_count) return 0;
    const uint8_t* body = bytes + 1 + sizes_count;
    size_t body_size = size - 1 - sizes_count;

    // Sized first, so that a long file is built without moving it around.
    auto expand_into = [&](std::string* file) {
        size_t length = 0;
        for (size_t i = 0; i < body_size; ++i) {
            size_t run = 1;
            if (expand && body[i] == 0x01 && i + 2 < body_size) {
                run = static_cast<size_t>(body[i + 1]) * 256 + body[i + 2];
                if (file) file->append(run, 'x');
                i += 2;
            } else if (file) {
                *file += static_cast<char>(body[i]);
            }
            length += run;
        }
        return length;
    };
    size_t length = expand_into(nullptr);
    if (length > MAX_EXPANDED) return 0;
    std::string file;
    file.reserve(length);
    expand_into(&file);

    // Reads of a byte or two over a long file rescan the unfinished line each
    // time; long files get reads of at least 256 bytes to stay fast.
    size_t least = file.size() > 8192 ? 256 : 1;
    std::vector<size_t> read_sizes;
    for (size_t i = 0; i < sizes_count; ++i)
        read_sizes.push_back(
            std::max<size_t>(least, bytes[1 + i] == 0 ? LINE_BUFFER_SIZE : bytes[1 + i]));
    if (read_sizes.empty()) read_sizes.push_back(least);

    const split_result in_pieces = split_in_reads(file, read_sizes);
    const split_result whole = split_in_reads(file, {file.size() + 1});
    const split_result plain = split_plainly(file);
    FUZZ_CHECK(same(in_pieces, whole));
    FUZZ_CHECK(same(whole, plain));
    return 0;
}
