#include "keylist_summary.h"

#include "names_file.h"

#include <sys/stat.h>

namespace {

std::string size_of(const std::string& path) {
    if (path == "-") return "standard input";
    struct stat st;
    // Read a moment ago; a file gone since has no size to tell.
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "size unknown";
    return std::to_string(st.st_size) + " bytes";
}

std::string utc_time(std::time_t made) {
    std::tm utc;
    char text[64];
    if (!gmtime_r(&made, &utc) ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc) == 0)
        return "unknown";
    return text;
}

} // namespace

std::string keylist_summary_text(const std::vector<std::string>& inputs,
                                 const keylist_counts& counts, uint64_t keys_written,
                                 uint64_t signatures_written, std::time_t made) {
    std::string text = "made: " + utc_time(made) + "\n";
    text += std::string("program: korvalinde-keylist ") + KEYLIST_VERSION + "\n";
    for (const std::string& input : inputs)
        text += "input: " + escape_user_id(input) + " (" + size_of(input) + ")\n";
    text += "keys read: " + std::to_string(counts.keys_read) + "\n";
    text += "keys: " + std::to_string(keys_written) + "\n";
    text += "certifications read: " + std::to_string(counts.certifications_seen) + "\n";
    text += "certifications: " + std::to_string(signatures_written) + "\n";
    return text;
}
