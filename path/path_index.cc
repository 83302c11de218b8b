#include "path_index.h"

#include "start_threads.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace {

// One direction of the simple graph: each key's neighbours without itself,
// sorted by id, each once.
void build_direction(const path_index& ix, const std::vector<int64_t>& start,
                     const std::vector<int32_t>& keys, std::vector<int64_t>& out_start,
                     std::vector<int32_t>& out_keys) {
    out_start.assign(static_cast<size_t>(ix.key_count) + 1, 0);
    out_keys.clear();
    out_keys.reserve(keys.size());
    auto by_id = [&ix](int32_t a, int32_t b) {
        return ix.ids[static_cast<size_t>(a)] < ix.ids[static_cast<size_t>(b)];
    };
    for (int32_t k = 0; k < ix.key_count; ++k) {
        auto first = static_cast<int64_t>(out_keys.size());
        for (int64_t e = start[static_cast<size_t>(k)]; e < start[static_cast<size_t>(k) + 1];
             ++e) {
            int32_t other = keys[static_cast<size_t>(e)];
            if (other != k) out_keys.push_back(other);
        }
        auto begin = out_keys.begin() + first;
        std::sort(begin, out_keys.end(), by_id);
        out_keys.erase(std::unique(begin, out_keys.end()), out_keys.end());
        out_start[static_cast<size_t>(k) + 1] = static_cast<int64_t>(out_keys.size());
    }
    out_keys.shrink_to_fit();
}

} // namespace

path_index build_path_index(key_graph&& g, key_lookup&& lookup) {
    path_index ix;
    ix.lookup = std::move(lookup);
    ix.key_count = g.key_count;
    ix.ids.resize(static_cast<size_t>(g.key_count));
    for (int32_t k = 0; k < g.key_count; ++k) {
        const key_record& r = g.key_table[static_cast<size_t>(k)];
        ix.ids[static_cast<size_t>(k)] = (static_cast<uint64_t>(r.id_high) << 32) | r.id_low;
    }
    // The two directions and the low-half index are independent: two
    // threads share the three tasks (start_threads.h: one thread does all
    // of them when no second can be had). Each direction frees its part of
    // the graph when done.
    auto build_signs = [&ix, &g] {
        build_direction(ix, g.signs_start, g.signs_keys, ix.signs_start, ix.signs_keys);
        g.signs_start = {};
        g.signs_keys = {};
    };
    auto build_signed_by = [&ix, &g] {
        build_direction(ix, g.signed_by_start, g.signed_by_keys, ix.signers_start, ix.signers_keys);
        g.signed_by_start = {};
        g.signed_by_keys = {};
    };
    // The lookup holds each id once, with its lowest key index.
    auto build_by_low = [&ix] {
        ix.by_low.reserve(ix.lookup.used);
        for (const key_slot& slot : ix.lookup.slots)
            if (slot.key >= 0)
                ix.by_low.push_back((slot.id << 32) | static_cast<uint32_t>(slot.key));
        std::sort(ix.by_low.begin(), ix.by_low.end());
    };
    std::atomic<int> next_task{0};
    run_work_on_threads(2, [&] {
        for (int task = next_task.fetch_add(1); task < 3; task = next_task.fetch_add(1)) {
            if (task == 0)
                build_signs();
            else if (task == 1)
                build_signed_by();
            else
                build_by_low();
        }
    });
    g.key_table = {};
    return ix;
}

int32_t key_of_id(const path_index& ix, uint64_t id) {
    return lookup_key(ix.lookup, static_cast<uint32_t>(id >> 32), static_cast<uint32_t>(id));
}

std::vector<int32_t> keys_with_low_half(const path_index& ix, uint32_t low) {
    std::vector<int32_t> keys;
    uint64_t first = static_cast<uint64_t>(low) << 32;
    for (auto it = std::lower_bound(ix.by_low.begin(), ix.by_low.end(), first);
         it != ix.by_low.end() && (*it >> 32) == low; ++it)
        keys.push_back(static_cast<int32_t>(static_cast<uint32_t>(*it)));
    return keys;
}
