#include "page_file.h"

#include <cstring>
#include <filesystem>

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
