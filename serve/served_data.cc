#include "served_data.h"

#include "key_import.h"
#include "line_reader.h"
#include "mean_ranking.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

unique_fd& unique_fd::operator=(unique_fd&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) (void)close(fd); // read-only descriptors: nothing to lose
        fd = other.release();
    }
    return *this;
}

unique_fd::~unique_fd() {
    if (fd >= 0) (void)close(fd); // read-only descriptors: nothing to lose
}

space_lease::space_lease(const served_data& data) : owner(data) {
    {
        std::lock_guard<std::mutex> hold(owner.spaces_lock);
        if (!owner.spare_spaces.empty()) {
            held = std::move(owner.spare_spaces.back());
            owner.spare_spaces.pop_back();
        }
    }
    if (!held) held = std::make_unique<search_space>(make_search_space(owner.ix.key_count));
}

space_lease::~space_lease() {
    std::lock_guard<std::mutex> hold(owner.spaces_lock);
    owner.spare_spaces.push_back(std::move(held));
}

namespace {

struct file_closer {
    void operator()(FILE* f) const {
        (void)std::fclose(f); // read-only or /dev/null: nothing to lose
    }
};
using file_holder = std::unique_ptr<FILE, file_closer>;

// The search works on nodes 2 * key + 1 in 32 bits.
constexpr int32_t KEY_COUNT_MAX = (1 << 30) - 1;

bool load_index(const std::string& path, path_index& ix, std::string& error) {
    file_holder input(std::fopen(path.c_str(), "rbe"));
    if (!input) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    // The import's progress lines are korvalinde's status file; not wanted here.
    file_holder discard(std::fopen("/dev/null", "we"));
    if (!discard) {
        error = std::string("/dev/null: ") + std::strerror(errno);
        return false;
    }
    key_graph g;
    key_lookup lookup;
    if (import_keys(input.get(), path.c_str(), discard.get(), g, &lookup) != 0) {
        error = path + ": not a readable key list";
        return false;
    }
    if (g.key_count > KEY_COUNT_MAX) {
        error = path + ": more than " + std::to_string(KEY_COUNT_MAX) + " keys";
        return false;
    }
    ix = build_path_index(std::move(g), std::move(lookup));
    return true;
}

char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

void build_search_tables(served_data& d) {
    d.by_id.reserve(static_cast<size_t>(d.ix.key_count));
    for (int32_t k = 0; k < d.ix.key_count; ++k)
        d.by_id.emplace_back(d.ix.ids[static_cast<size_t>(k)], k);
    std::sort(d.by_id.begin(), d.by_id.end());
    if (!d.has_names) return;
    // Names in key-id order, so that matches come out in a stable order.
    for (const auto& [id, k] : d.by_id) {
        auto it = d.names.find(id);
        if (it == d.names.end()) continue;
        if (k != key_of_id(d.ix, id)) continue; // a repeated id: its first key only
        d.name_starts.emplace_back(d.folded_names.size(), k);
        for (char c : it->second)
            d.folded_names += fold(c);
        d.folded_names += '\n';
    }
    d.folded_names.shrink_to_fit();
}

bool load_reports(const std::string& dir, served_data& d, std::string& error) {
    d.report_dir = unique_fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.report_dir.fd < 0) {
        error = dir + ": " + std::strerror(errno);
        return false;
    }
    mean_ranking ranking;
    mean_histogram histogram;
    try {
        read_msd(dir.ends_with('/') ? dir : dir + "/", ranking, histogram);
    } catch (const input_error& e) {
        error = e.what();
        return false;
    }
    d.ranks.assign(static_cast<size_t>(d.ix.key_count), key_rank{});
    std::vector<ranked_key> ranked = take_ranked_keys(ranking);
    d.ranked_keys = static_cast<int64_t>(ranked.size());
    for (size_t i = 0; i < ranked.size(); ++i) {
        const key_id& id = ranked[i].id;
        int32_t k = key_of_id(d.ix, (static_cast<uint64_t>(id.id_high) << 32) | id.id_low);
        // A key listed twice keeps its better place; one missing from the
        // key list has no page to show it on.
        if (k >= 0 && d.ranks[static_cast<size_t>(k)].rank == 0)
            d.ranks[static_cast<size_t>(k)] = {static_cast<int64_t>(i) + 1, ranked[i].mean};
    }
    return true;
}

std::string utc_now() {
    time_t now = std::time(nullptr);
    tm parts{};
    char text[32] = "";
    if (gmtime_r(&now, &parts) != nullptr)
        (void)std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts); // fits
    return text;
}

} // namespace

std::shared_ptr<const served_data> load_served_data(const serve_settings& settings,
                                                    std::string& error) {
    auto started = std::chrono::steady_clock::now();
    auto d = std::make_shared<served_data>();
    if (!load_index(settings.input, d->ix, error)) return nullptr;
    if (!settings.names_path.empty()) {
        if (!read_names_file(settings.names_path, d->names, error)) return nullptr;
        d->has_names = true;
    }
    build_search_tables(*d);
    if (!settings.report_dir.empty() && !load_reports(settings.report_dir, *d, error))
        return nullptr;
    auto now = std::chrono::system_clock::now().time_since_epoch();
    char tag[40];
    std::snprintf(tag, sizeof tag, "%llx-%x",
                  static_cast<unsigned long long>(
                      std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
                  static_cast<unsigned>(getpid()));
    d->etag_base = tag;
    d->loaded_at = utc_now();
    d->load_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return d;
}

const std::string* key_name_of(const served_data& data, int32_t k) {
    if (!data.has_names) return nullptr;
    auto it = data.names.find(data.ix.ids[static_cast<size_t>(k)]);
    return it == data.names.end() ? nullptr : &it->second;
}
