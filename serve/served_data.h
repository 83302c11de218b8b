// Everything one generation of the server answers from: the path index,
// the names, the search tables and the report directory. A generation is
// built whole, then shared read-only by the workers; a reload builds the
// next one beside it, and requests in flight keep the one they started on.
#pragma once

#include "name_grams.h"
#include "names_file.h"
#include "path_index.h"
#include "path_search.h"
#include "serve_options.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A descriptor closed with its holder.
struct unique_fd {
    int fd = -1;
    unique_fd() = default;
    explicit unique_fd(int f) : fd(f) {}
    unique_fd(unique_fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
    unique_fd& operator=(unique_fd&& other) noexcept;
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    ~unique_fd();
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
};

// A key's place in the report directory's ranking (msd.txt).
struct key_rank {
    int64_t rank = 0; // from 1; 0 when the ranking does not list the key
    int64_t mean = 0; // mean distance in ten-thousandths
};

struct served_data;

// Search spaces lent to one query at a time: each is as large as the key
// table, so there are only as many as queries have run at once.
class space_lease {
  public:
    explicit space_lease(const served_data& data);
    ~space_lease();
    space_lease(const space_lease&) = delete;
    space_lease& operator=(const space_lease&) = delete;
    search_space& space() { return *held; }

  private:
    const served_data& owner;
    std::unique_ptr<search_space> held;
};

struct served_data {
    path_index ix;
    bool has_names = false;
    // Key indexes in ascending order of their ids: ids by prefix.
    std::vector<int32_t> by_id;
    // The names of the keys in key-index order, each followed by '\n' (a
    // key without a name has none); name_at[k] is where key k's begins, and
    // name_at[key_count] the end.
    std::string names;
    std::vector<uint64_t> name_at;
    name_grams grams; // the names' trigrams, for finding text within names

    unique_fd report_dir;        // -1 without -r
    std::vector<key_rank> ranks; // by key index, empty without -r
    int64_t ranked_keys = 0;

    std::chrono::milliseconds query_budget{2000};
    std::string etag_base;   // changes with every load
    std::string loaded_at;   // "2026-12-10T13:00:00Z"
    double load_seconds = 0; // how long the load took

    mutable std::mutex spaces_lock;
    mutable std::vector<std::unique_ptr<search_space>> spare_spaces;
};

// Loads every file the settings name. Returns null with error set to
// "what: why" (naming the file) when one cannot be read.
std::shared_ptr<const served_data> load_served_data(const serve_settings& settings,
                                                    std::string& error);

// c with ASCII letters in lower case: how searches compare names.
inline unsigned char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a')
                                : static_cast<unsigned char>(c);
}

// The name of key index k, if it has one.
std::optional<std::string_view> key_name_of(const served_data& data, int32_t k);
