// Everything one generation of the server answers from: the path index,
// the names, the search tables and the report directory. A generation is
// built whole, then shared read-only by the workers; a reload builds the
// next one beside it, and requests in flight keep the one they started on.
#pragma once

#include "names_file.h"
#include "path_index.h"
#include "path_search.h"
#include "serve_options.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
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
    key_names names;
    bool has_names = false;
    // (id, key index) ascending by id: ids by prefix.
    std::vector<std::pair<uint64_t, int32_t>> by_id;
    // Every name lower-cased (ASCII), each followed by '\n', and where each
    // begins with the key it belongs to, in the order of the text.
    std::string folded_names;
    std::vector<std::pair<uint64_t, int32_t>> name_starts; // (offset, key index)

    unique_fd report_dir;        // -1 without -r
    std::vector<key_rank> ranks; // by key index, empty without -r
    int64_t ranked_keys = 0;

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

// The name of key index k, or null.
const std::string* key_name_of(const served_data& data, int32_t k);
