#include "line_reader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void fail_at_line(const std::string& path, int64_t line, const std::string& what) {
    throw input_error(path + ":" + std::to_string(line) + ": " + what);
}

line_reader::line_reader(std::string file_path) : path(std::move(file_path)) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw input_error("'" + path + "': " + std::strerror(errno));
}

line_reader::~line_reader() {
    if (fd >= 0) (void)close(fd); // read-only: nothing can be lost at close
}

namespace {

// Appends up to one block to the buffer; false at the end of the file.
bool read_more(line_reader& reader) {
    constexpr size_t BLOCK = 65536;
    if (reader.start > 0) {
        reader.buffer.erase(0, reader.start);
        reader.start = 0;
    }
    size_t old_size = reader.buffer.size();
    reader.buffer.resize(old_size + BLOCK);
    ssize_t n;
    do {
        n = read(reader.fd, reader.buffer.data() + old_size, BLOCK);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        int error = errno;
        reader.buffer.resize(old_size);
        throw input_error("'" + reader.path + "': " + std::strerror(error));
    }
    reader.buffer.resize(old_size + static_cast<size_t>(n));
    return n > 0;
}

} // namespace

bool next_line(line_reader& reader, std::string_view& line) {
    size_t searched = reader.start;
    for (;;) {
        size_t end = reader.buffer.find('\n', searched);
        if (end != std::string::npos) {
            if (end - reader.start > MAX_LINE)
                fail_at_line(reader.path, reader.line_number + 1, "line too long");
            ++reader.line_number;
            line = std::string_view(reader.buffer).substr(reader.start, end - reader.start);
            reader.start = end + 1;
            return true;
        }
        if (reader.buffer.size() - reader.start > MAX_LINE)
            fail_at_line(reader.path, reader.line_number + 1, "line too long");
        searched = reader.buffer.size() - reader.start; // relative, fixed below
        if (reader.at_end || !read_more(reader)) {
            reader.at_end = true;
            if (reader.buffer.size() > reader.start)
                fail_at_line(reader.path, reader.line_number + 1,
                             "last line has no line end (file cut short?)");
            return false;
        }
        // read_more moved the unread bytes to the front of the buffer.
        searched = reader.start + searched;
    }
}
