#include "page_file.h"

#include "file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& path, const char* what, int error) {
    throw page_error(path + ": " + what + ": " + std::strerror(error));
}

} // namespace

void open_page_file(atomic_file& file, const std::string& path) {
    if (atomic_open(file, path)) return;
    if (file.failed_step == atomic_step::create)
        fail(path, "cannot create a temporary file beside it", file.error);
    if (file.failed_step == atomic_step::open) fail(path, "cannot open for writing", file.error);
    fail(file.temp_path, "cannot set permissions", file.error);
}

void commit_page_file(atomic_file& file, bool sync) {
    if (atomic_commit(file, sync)) return;
    if (file.failed_step == atomic_step::rename)
        fail(file.path, "cannot rename the finished page into place", file.error);
    fail(written_path(file), "cannot write", file.error);
}

std::string href_prefix(const std::string& page_path, const std::string& dir) {
    std::error_code error;
    fs::path page_dir = fs::path(page_path).parent_path();
    if (page_dir.empty()) page_dir = ".";
    // The error-code forms throw nothing but std::bad_alloc.
    fs::path from = fs::absolute(page_dir, error);
    if (!error) from = fs::weakly_canonical(from, error);
    if (error) throw page_error(page_dir.string() + ": " + error.message());
    fs::path to = fs::absolute(dir, error);
    if (!error) to = fs::weakly_canonical(to, error);
    if (error) throw page_error(dir + ": " + error.message());
    fs::path relative = to.lexically_relative(from);
    if (relative.empty()) relative = to; // no relative way (never on one file system tree)
    std::string text = relative.generic_string();
    if (text == "." || text.empty()) return "";
    if (text.back() != '/') text += '/';
    return text;
}

void make_page_folder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        fail(folder, "cannot create the folder", errno);
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0) throw page_error(folder + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        throw page_error(folder + ": not a directory (a link there is not followed)");
}

void write_page_text(const std::string& path, const std::string& text) {
    atomic_file file;
    open_page_file(file, path);
    if (!write_all(file.fd, text.data(), text.size()))
        fail(written_path(file), "cannot write", errno);
    commit_page_file(file, false);
}

void sync_page_folder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw page_error(folder + ": " + std::strerror(errno));
    int synced = syncfs(fd);
    int error = errno;
    (void)close(fd); // a read-only directory descriptor: nothing to lose
    if (synced != 0) fail(folder, "cannot write", error);
}

std::string sibling_path(const std::string& page_path, const std::string& name) {
    fs::path dir = fs::path(page_path).parent_path();
    return ((dir.empty() ? fs::path(".") : dir) / name).string();
}
