#include "search_index.h"

#include "json_text.h"
#include "page_file.h"
#include "summary_page.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <memory>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool word_byte(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}

std::string hex_text(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// One index file being filled: its entries and their bytes so far.
struct index_bucket {
    std::string entries;
    size_t count = 0;
    size_t more = 0; // entries left out of a file that would be too large
};

void add_entry(index_bucket& bucket, const std::string& entry) {
    if (bucket.entries.size() + entry.size() > INDEX_FILE_MAX) {
        ++bucket.more;
        return;
    }
    if (bucket.count++ > 0) bucket.entries += ",\n";
    bucket.entries += entry;
}

std::string index_file(const std::string& name, const index_bucket& bucket, bool split) {
    std::string text = "korvalindeIndex(" + json_string(name) + ", {";
    if (split) text += "\"split\": true, ";
    if (bucket.more > 0) text += "\"more\": " + std::to_string(bucket.more) + ", ";
    return text + "\"keys\": [\n" + bucket.entries + "]});\n";
}

// The names files: each word prefix's keys; a prefix whose file would be too
// large gets a file per three-character prefix, and its own file keeps the
// keys with a two-character word only.
void add_name_files(std::map<std::string, std::string>& files,
                    const std::vector<std::string>& entries,
                    const std::vector<std::string_view>& key_names) {
    std::map<std::string, std::vector<size_t>> by_prefix;
    std::map<std::string, size_t> bytes;
    for (size_t i = 0; i < key_names.size(); ++i) {
        std::set<std::string> prefixes;
        for (std::string_view word : name_words(key_names[i]))
            if (std::string p = word_prefix(word, 2); !p.empty()) prefixes.insert(p);
        for (const std::string& p : prefixes) {
            by_prefix[p].push_back(i);
            bytes[p] += entries[i].size() + 2;
        }
    }
    for (const auto& [prefix, keys] : by_prefix) {
        std::string name = "names/" + hex_text(prefix);
        index_bucket whole;
        if (bytes[prefix] <= INDEX_FILE_MAX) {
            for (size_t i : keys)
                add_entry(whole, entries[i]);
            files[name] = index_file(name, whole, false);
            continue;
        }
        std::map<std::string, index_bucket> longer;
        for (size_t i : keys) {
            std::set<std::string> seen;
            for (std::string_view word : name_words(key_names[i])) {
                if (word_prefix(word, 2) != prefix) continue;
                std::string p3 = word_prefix(word, 3);
                if (p3.empty()) p3 = prefix; // the two-character word itself
                if (seen.insert(p3).second)
                    add_entry(p3 == prefix ? whole : longer[p3], entries[i]);
            }
        }
        files[name] = index_file(name, whole, true);
        for (const auto& [p3, bucket] : longer) {
            std::string name3 = "names/" + hex_text(p3);
            files[name3] = index_file(name3, bucket, false);
        }
    }
}

// Removes the ".js" files of folder that files does not hold (under sub/).
void remove_old_files(const std::string& folder, const std::string& sub,
                      const std::map<std::string, std::string>& files) {
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(folder.c_str()), closedir);
    if (!d) throw page_error(folder + ": " + std::strerror(errno));
    while (const dirent* entry = readdir(d.get())) {
        std::string_view name = entry->d_name;
        if (!name.ends_with(".js") ||
            files.count(sub + std::string(name.substr(0, name.size() - 3))))
            continue;
        std::string path = folder + "/" + std::string(name);
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            throw page_error(path + ": cannot remove: " + std::strerror(errno));
    }
}

} // namespace

std::vector<std::string_view> name_words(std::string_view name) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < name.size()) {
        while (i < name.size() && !word_byte(static_cast<unsigned char>(name[i])))
            ++i;
        size_t start = i;
        while (i < name.size() && word_byte(static_cast<unsigned char>(name[i])))
            ++i;
        if (i > start) words.push_back(name.substr(start, i - start));
    }
    return words;
}

std::string word_prefix(std::string_view word, size_t count) {
    std::string prefix;
    size_t i = 0;
    for (size_t n = 0; n < count; ++n) {
        if (i >= word.size()) return "";
        size_t end = i + 1;
        while (end < word.size() && (static_cast<unsigned char>(word[end]) & 0xC0) == 0x80)
            ++end;
        for (; i < end; ++i) {
            char c = word[i];
            prefix += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
    }
    return prefix;
}

std::map<std::string, std::string> search_index_files(const std::vector<ranked_key>& keys,
                                                      size_t key_count, const key_names* names) {
    std::map<std::string, std::string> files;
    std::vector<std::string> entries;
    std::vector<std::string_view> key_names;
    std::map<uint32_t, index_bucket> by_id;
    for (size_t i = 0; i < key_count && i < keys.size(); ++i) {
        const key_id& id = keys[i].id;
        char digits[20];
        std::snprintf(digits, sizeof digits, "%08X%08X", id.id_high, id.id_low);
        const std::string* name = name_of(names, id);
        std::string entry =
            "[\"" + std::string(digits) + "\", " + json_string(name ? *name : "") + "]";
        add_entry(by_id[id.id_low >> 24], entry);
        if (!names) continue;
        entries.push_back(std::move(entry));
        key_names.push_back(name ? std::string_view(*name) : std::string_view());
    }
    for (const auto& [digits, bucket] : by_id) {
        char name[16];
        std::snprintf(name, sizeof name, "ids/%02X", digits);
        files[name] = index_file(name, bucket, false);
    }
    if (names) add_name_files(files, entries, key_names);
    return files;
}

void write_search_index(const std::map<std::string, std::string>& files,
                        const std::string& page_path) {
    fs::path page_dir = fs::path(page_path).parent_path();
    std::string folder = ((page_dir.empty() ? fs::path(".") : page_dir) / "index").string();
    make_page_folder(folder);
    make_page_folder(folder + "/ids");
    make_page_folder(folder + "/names");
    for (const auto& [name, text] : files) {
        std::string path = folder;
        path.append("/").append(name).append(".js");
        write_page_text(path, text);
    }
    remove_old_files(folder + "/ids", "ids/", files);
    remove_old_files(folder + "/names", "names/", files);
    sync_page_folder(folder);
}
