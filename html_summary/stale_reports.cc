#include "stale_reports.h"

#include <algorithm>
#include <dirent.h>
#include <memory>

namespace {

struct dir_closer {
    void operator()(DIR* d) const {
        (void)closedir(d); // read only: nothing to lose
    }
};

bool hex_digits(const char* text, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return text[n] == '\0';
}

uint32_t hex_value(const char* text, size_t n) {
    uint32_t value = 0;
    for (size_t i = 0; i < n; ++i)
        value =
            value << 4 | static_cast<uint32_t>(text[i] <= '9' ? text[i] - '0' : text[i] - 'A' + 10);
    return value;
}

// Counts the names of eight hex digits in path not in listed; when prefix
// is not empty, only names starting with it count. The two-digit
// subdirectories are collected into subdirs.
int64_t scan(const std::string& path, const std::string& prefix,
             const std::vector<uint32_t>& listed, std::vector<std::string>* subdirs) {
    std::unique_ptr<DIR, dir_closer> d(opendir(path.c_str()));
    if (!d) return 0; // not a directory, or unreadable: nothing of ours to count
    int64_t stale = 0;
    while (const dirent* entry = readdir(d.get())) {
        const char* name = entry->d_name;
        if (hex_digits(name, 8) && (prefix.empty() || prefix.compare(0, 2, name, 2) == 0)) {
            if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
            if (!std::binary_search(listed.begin(), listed.end(), hex_value(name, 8))) ++stale;
        } else if (subdirs && hex_digits(name, 2) &&
                   (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN)) {
            subdirs->push_back(name);
        }
    }
    return stale;
}

} // namespace

int64_t count_stale_reports(const std::string& dir, std::vector<uint32_t>& listed) {
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> subdirs;
    int64_t stale = scan(dir, "", listed, &subdirs);
    for (const std::string& sub : subdirs)
        stale += scan(dir + sub, sub, listed, nullptr);
    return stale;
}
