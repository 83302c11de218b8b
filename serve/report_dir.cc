#include "report_dir.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A report larger than this is not shown on a key page.
constexpr off_t REPORT_READ_MAX = 16 << 20;

bool acceptable_component(std::string_view part) {
    return !part.empty() && part[0] != '.' && part.find('\0') == std::string_view::npos;
}

bool read_whole(int fd, off_t size, std::string& text) {
    text.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::optional<report_file> open_report_file(int dir_fd, std::string_view relative) {
    if (dir_fd < 0) return std::nullopt;
    unique_fd current;
    int at = dir_fd;
    for (;;) {
        size_t slash = relative.find('/');
        std::string part(relative.substr(0, slash));
        if (!acceptable_component(part)) return std::nullopt;
        bool last = slash == std::string_view::npos;
        int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (last ? 0 : O_DIRECTORY);
        unique_fd next(openat(at, part.c_str(), flags));
        if (next.fd < 0) return std::nullopt; // missing, a link (ELOOP), not a directory
        if (last) {
            report_file file;
            if (fstat(next.fd, &file.info) != 0 || !S_ISREG(file.info.st_mode)) return std::nullopt;
            // Opened without blocking so that a FIFO cannot hold the worker;
            // a regular file reads the same either way.
            file.fd = std::move(next);
            return file;
        }
        current = std::move(next);
        at = current.fd;
        relative.remove_prefix(slash + 1);
    }
}

std::string report_content_type(std::string_view name) {
    std::string_view base = name.substr(name.rfind('/') + 1);
    size_t dot = base.rfind('.');
    if (dot == std::string_view::npos) return "text/plain; charset=utf-8";
    std::string_view ext = base.substr(dot + 1);
    if (ext == "html" || ext == "htm") return "text/html; charset=utf-8";
    if (ext == "svg") return "image/svg+xml";
    if (ext == "txt") return "text/plain; charset=utf-8";
    if (ext == "css") return "text/css; charset=utf-8";
    // korvalinde-html's key search and its index files.
    if (ext == "js") return "text/javascript; charset=utf-8";
    if (ext == "png") return "image/png";
    return "application/octet-stream";
}

std::string key_report_path(int dir_fd, uint64_t id) {
    char low[9];
    std::snprintf(low, sizeof low, "%08X", static_cast<unsigned>(id & 0xFFFFFFFFU));
    std::string nested = std::string(low, 2) + "/" + low;
    if (open_report_file(dir_fd, nested)) return nested;
    if (open_report_file(dir_fd, low)) return low;
    return {};
}

std::optional<std::string> read_key_report_text(int dir_fd, uint64_t id) {
    std::string path = key_report_path(dir_fd, id);
    if (path.empty()) return std::nullopt;
    std::optional<report_file> file = open_report_file(dir_fd, path);
    std::string text;
    if (!file || file->info.st_size > REPORT_READ_MAX ||
        !read_whole(file->fd.fd, file->info.st_size, text))
        return std::nullopt;
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "KeyID %08X %08X\n", static_cast<unsigned>(id >> 32),
                  static_cast<unsigned>(id & 0xFFFFFFFFU));
    size_t start = text.starts_with(wanted) ? 0 : text.find(std::string("\n") + wanted);
    if (start == std::string::npos) return std::nullopt;
    if (start > 0) ++start;
    size_t end = text.find("\nKeyID ", start + 1);
    return text.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
}
