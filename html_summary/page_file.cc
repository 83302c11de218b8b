#include "page_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& path, const char* what, int error) {
    throw page_error(path + ": " + what + ": " + std::strerror(error));
}

} // namespace

page_file::~page_file() {
    if (fd >= 0) (void)close(fd); // the page is abandoned: its contents no longer matter
    if (!committed && !temp_path.empty())
        (void)unlink(temp_path.c_str()); // best effort: nothing more can be done here
}

void open_page_file(page_file& file, const std::string& path) {
    file.path = path;
    fs::path target(path);
    std::string name = "." + target.filename().string() + ".XXXXXX";
    std::string temp = (target.parent_path() / name).string();
    // mkostemp fills in the name in place, so once the file exists nothing
    // is left to allocate: the holder always learns the name it must remove.
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) fail(path, "cannot create a temporary file beside it", errno);
    file.fd = fd;
    file.temp_path = std::move(temp);
}

void commit_page_file(page_file& file, bool sync) {
    mode_t mask = umask(0);
    (void)umask(mask); // restores the mask just read; umask cannot fail
    if (fchmod(file.fd, 0666 & ~mask) != 0) fail(file.temp_path, "cannot set permissions", errno);
    if (sync && fsync(file.fd) != 0) fail(file.temp_path, "cannot write", errno);
    int fd = file.fd;
    file.fd = -1;
    if (close(fd) != 0) fail(file.temp_path, "cannot write", errno);
    if (rename(file.temp_path.c_str(), file.path.c_str()) != 0)
        fail(file.path, "cannot rename the finished page into place", errno);
    file.committed = true;
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
