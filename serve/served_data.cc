#include "served_data.h"

#include "key_import.h"
#include "line_reader.h"
#include "mean_ranking.h"
#include "start_threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
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
        error = "'" + path + "': " + std::strerror(errno);
        return false;
    }
    key_graph g;
    key_lookup lookup;
    // No status file: the import's progress lines are korvalinde's.
    if (import_keys(input.get(), path.c_str(), nullptr, g, &lookup) != 0) {
        error = "'" + path + "': not a readable key list";
        return false;
    }
    if (g.key_count > KEY_COUNT_MAX) {
        error = "'" + path + "': more than " + std::to_string(KEY_COUNT_MAX) + " keys";
        return false;
    }
    ix = build_path_index(std::move(g), std::move(lookup));
    return true;
}

// Reads the names file and lays the names out by key index, each key's
// first name; names of keys not in the list are left out.
bool read_names_by_key(served_data& d, const std::string& path, std::string& error,
                       const names_warning& warn) {
    constexpr uint64_t NONE = UINT64_MAX;
    std::string text; // the names in file order
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        text.reserve(static_cast<size_t>(info.st_size)); // at most the file's size
    std::vector<uint64_t> start(static_cast<size_t>(d.ix.key_count), NONE);
    std::vector<uint32_t> length(static_cast<size_t>(d.ix.key_count), 0);
    auto take = [&](uint64_t id, std::string_view name) {
        int32_t k = key_of_id(d.ix, id);
        if (k < 0 || start[static_cast<size_t>(k)] != NONE) return;
        start[static_cast<size_t>(k)] = text.size();
        length[static_cast<size_t>(k)] = static_cast<uint32_t>(name.size()); // a line's share
        text += name;
    };
    if (!read_names(path, take, error, warn)) return false;
    uint64_t total = 0;
    for (int32_t k = 0; k < d.ix.key_count; ++k)
        if (start[static_cast<size_t>(k)] != NONE) total += length[static_cast<size_t>(k)] + 1;
    if (total > UINT32_MAX) {
        error = "'" + path + "': the names take more than 4 GiB";
        return false;
    }
    d.names.reserve(total);
    d.name_at.reserve(static_cast<size_t>(d.ix.key_count) + 1);
    for (int32_t k = 0; k < d.ix.key_count; ++k) {
        d.name_at.push_back(d.names.size());
        if (start[static_cast<size_t>(k)] == NONE) continue;
        d.names.append(text, start[static_cast<size_t>(k)], length[static_cast<size_t>(k)]);
        d.names += '\n';
    }
    d.name_at.push_back(d.names.size());
    return true;
}

void sort_ids(served_data& d) {
    d.by_id.resize(static_cast<size_t>(d.ix.key_count));
    for (int32_t k = 0; k < d.ix.key_count; ++k)
        d.by_id[static_cast<size_t>(k)] = k;
    const std::vector<uint64_t>& ids = d.ix.ids;
    std::sort(d.by_id.begin(), d.by_id.end(), [&ids](int32_t a, int32_t b) {
        return ids[static_cast<size_t>(a)] != ids[static_cast<size_t>(b)]
                   ? ids[static_cast<size_t>(a)] < ids[static_cast<size_t>(b)]
                   : a < b;
    });
}

bool load_reports(const std::string& dir, served_data& d, std::string& error) {
    d.report_dir = unique_fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.report_dir.fd < 0) {
        error = "'" + dir + "': " + std::strerror(errno);
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
    // The names are read after the import, not beside it: the import's
    // peak and the names together would raise the peak memory by the
    // names' size for a second of start-up; and they are laid out by key.
    if (!load_index(settings.input, d->ix, error)) return nullptr;
    auto warn = [](const std::string& warning) {
        std::string line = "korvalinde-serve: warning: " + warning + "\n";
        (void)write(STDERR_FILENO, line.data(), line.size()); // nowhere else to say it
    };
    // The id order and the names with their index on two threads.
    bool names_read = true;
    std::atomic<int> next_task{0};
    run_work_on_threads(2, [&] {
        for (int task = next_task.fetch_add(1); task < 2; task = next_task.fetch_add(1)) {
            if (task == 0) {
                sort_ids(*d);
            } else if (!settings.names_path.empty()) {
                names_read = read_names_by_key(*d, settings.names_path, error, warn);
                if (names_read) {
                    d->has_names = true;
                    d->grams = index_name_grams(d->names, d->name_at);
                }
            }
        }
    });
    if (!names_read) return nullptr;
    if (!settings.report_dir.empty() && !load_reports(settings.report_dir, *d, error))
        return nullptr;
    auto now = std::chrono::system_clock::now().time_since_epoch();
    char tag[40];
    std::snprintf(tag, sizeof tag, "%llx-%x",
                  static_cast<unsigned long long>(
                      std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
                  static_cast<unsigned>(getpid()));
    d->etag_base = tag;
    d->query_budget = std::chrono::milliseconds(settings.query_ms);
    d->loaded_at = utc_now();
    d->load_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return d;
}

std::optional<std::string_view> key_name_of(const served_data& data, int32_t k) {
    if (!data.has_names) return std::nullopt;
    uint64_t start = data.name_at[static_cast<size_t>(k)];
    uint64_t end = data.name_at[static_cast<size_t>(k) + 1];
    if (start == end) return std::nullopt;
    return std::string_view(data.names).substr(start, end - start - 1);
}
