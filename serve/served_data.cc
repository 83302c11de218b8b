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
#include <malloc.h>
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

// The names laid out by key index; the map is emptied as it is used.
bool lay_out_names(served_data& d, key_names& names, std::string& error) {
    d.name_at.reserve(static_cast<size_t>(d.ix.key_count) + 1);
    for (int32_t k = 0; k < d.ix.key_count; ++k) {
        d.name_at.push_back(d.names.size());
        uint64_t id = d.ix.ids[static_cast<size_t>(k)];
        auto it = names.find(id);
        // A repeated id is the key of its first record only.
        if (it == names.end() || key_of_id(d.ix, id) != k) continue;
        d.names += it->second;
        d.names += '\n';
    }
    d.name_at.push_back(d.names.size());
    names = {};
    // The map's many small pieces back to the system before the word index
    // needs room.
    (void)malloc_trim(0); // only says whether anything was released
    if (d.names.size() > UINT32_MAX) {
        error = "the names take more than 4 GiB";
        return false;
    }
    d.names.shrink_to_fit();
    return true;
}

// The word at i's first four bytes, folded, high byte first, as the high
// half of a sort key whose low half is i. A name's end ('\n') pads the
// rest, so that keys order as the words do up to their fifth byte.
uint64_t word_key(const std::string& text, size_t i) {
    uint64_t prefix = 0;
    bool ended = false;
    for (size_t j = 0; j < 4; ++j) {
        ended = ended || text[i + j] == '\n';
        prefix = prefix << 8 | (ended ? uint64_t{'\n'} : folded(text[i + j]));
    }
    return prefix << 32 | i;
}

void index_words(served_data& d) {
    const std::string& text = d.names;
    // Sorted first by the four-byte prefixes, a plain integer sort; then each
    // run of words sharing one by the text after it, the runs shared out
    // between two threads.
    std::vector<uint64_t> keys;
    for (size_t i = 0; i < text.size(); ++i)
        if (is_word_char(text[i]) && (i == 0 || !is_word_char(text[i - 1])))
            keys.push_back(word_key(text, i));
    std::sort(keys.begin(), keys.end());
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t start = 0, end = 0; start < keys.size(); start = end) {
        end = start + 1;
        while (end < keys.size() && keys[end] >> 32 == keys[start] >> 32)
            ++end;
        // A prefix holding the name's end is the whole word: nothing to order.
        if (end - start > 1 && (keys[start] >> 32 & 0xFF) != '\n') runs.emplace_back(start, end);
    }
    const char* base = text.data();
    auto after_prefix = [base](uint64_t a, uint64_t b) {
        const char* x = base + static_cast<uint32_t>(a) + 4;
        const char* y = base + static_cast<uint32_t>(b) + 4;
        while (folded(*x) == folded(*y) && *x != '\n') {
            ++x;
            ++y;
        }
        return folded(*x) < folded(*y);
    };
    std::atomic<size_t> next_run{0};
    run_work_on_threads(2, [&] {
        for (size_t r = next_run.fetch_add(1); r < runs.size(); r = next_run.fetch_add(1))
            std::sort(keys.begin() + static_cast<ptrdiff_t>(runs[r].first),
                      keys.begin() + static_cast<ptrdiff_t>(runs[r].second), after_prefix);
    });
    d.word_starts.resize(keys.size());
    std::transform(keys.begin(), keys.end(), d.word_starts.begin(),
                   [](uint64_t key) { return static_cast<uint32_t>(key); });
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
    // peak and the names' map together would raise the peak memory by the
    // map's size for a second of start-up.
    if (!load_index(settings.input, d->ix, error)) return nullptr;
    key_names names;
    auto warn = [](const std::string& warning) {
        std::string line = "korvalinde-serve: warning: " + warning + "\n";
        (void)write(STDERR_FILENO, line.data(), line.size()); // nowhere else to say it
    };
    if (!settings.names_path.empty() && !read_names_file(settings.names_path, names, error, warn))
        return nullptr;
    if (!settings.names_path.empty()) {
        if (!lay_out_names(*d, names, error)) {
            error = "'" + settings.names_path + "': " + error;
            return nullptr;
        }
        d->has_names = true;
        index_words(*d);
    }
    sort_ids(*d);
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
