#include "input_guard.h"

#include "page_file.h"

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string canonical_text(const std::string& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error) return path;
    fs::path canonical = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal().string() : canonical.string();
}

} // namespace

void refuse_input_as_output(const std::string& page_path, const std::vector<std::string>& inputs) {
    struct stat page;
    bool page_exists = stat(page_path.c_str(), &page) == 0;
    std::string page_text = page_exists ? std::string() : canonical_text(page_path);
    for (const std::string& input : inputs) {
        bool same = false;
        if (page_exists) {
            struct stat st;
            same = stat(input.c_str(), &st) == 0 && st.st_dev == page.st_dev &&
                   st.st_ino == page.st_ino;
        } else {
            same = canonical_text(input) == page_text;
        }
        if (same) {
            std::string message = page_path;
            message += ": refusing to write the page over ";
            message += input;
            message += ", which it is made from; choose another file with -o";
            throw page_error(message);
        }
    }
}
