#include "key_list_table.h"

#include "key_list_format.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace {

constexpr size_t WRITE_CHUNK = 1 << 20;

void put_record(std::string& out, char type, uint64_t id) {
    char record[RECORD_SIZE];
    put_key_list_record(record, type, id);
    out.append(record, RECORD_SIZE);
}

size_t slot_of(uint64_t id, size_t mask) {
    // Key ids are hashes already, but listings may hold made-up ones such as
    // 0000000000000001: mix the bits so that those spread as well.
    id ^= id >> 33;
    id *= 0xFF51AFD7ED558CCDULL;
    id ^= id >> 33;
    return static_cast<size_t>(id) & mask;
}

void grow(key_index& index) {
    const size_t size = index.ids.empty() ? 1024 : index.ids.size() * 2;
    key_index bigger;
    bigger.ids.assign(size, 0);
    bigger.positions.assign(size, key_index::EMPTY);
    for (size_t i = 0; i < index.ids.size(); ++i)
        if (index.positions[i] != key_index::EMPTY)
            insert_position(bigger, index.ids[i], index.positions[i]);
    index = std::move(bigger);
}

} // namespace

uint32_t find_position(const key_index& index, uint64_t id) {
    if (index.ids.empty()) return key_index::EMPTY;
    const size_t mask = index.ids.size() - 1;
    for (size_t slot = slot_of(id, mask);; slot = (slot + 1) & mask) {
        if (index.positions[slot] == key_index::EMPTY) return key_index::EMPTY;
        if (index.ids[slot] == id) return index.positions[slot];
    }
}

void insert_position(key_index& index, uint64_t id, uint32_t position) {
    if (2 * (index.used + 1) > index.ids.size()) grow(index);
    const size_t mask = index.ids.size() - 1;
    size_t slot = slot_of(id, mask);
    while (index.positions[slot] != key_index::EMPTY)
        slot = (slot + 1) & mask;
    index.ids[slot] = id;
    index.positions[slot] = position;
    ++index.used;
}

void add_key_block(key_list_table& table, uint64_t id, bool kept,
                   const std::vector<uint64_t>& signers) {
    const uint32_t found = find_position(table.index, id);
    if (found != key_index::EMPTY) {
        key_list_table::entry& e = table.entries[found];
        if (!kept) {
            e.left_out = true;
        } else if (!signers.empty() && !e.left_out) {
            std::vector<uint64_t>& later = table.later_signers[found];
            later.insert(later.end(), signers.begin(), signers.end());
        }
        return;
    }
    // A kept key without certifications gets no place (yet): a later block of
    // it may still bring some.
    if (kept && signers.empty()) return;
    const uint32_t position = static_cast<uint32_t>(table.entries.size());
    table.entries.push_back(
        {id, table.signers.size(), static_cast<uint32_t>(signers.size()), !kept});
    table.signers.insert(table.signers.end(), signers.begin(), signers.end());
    insert_position(table.index, id, position);
}

bool write_key_list(const key_list_table& table,
                    const std::function<bool(const char*, size_t)>& write, written_counts& counts) {
    std::string out;
    // A small list needs no megabyte; later signers may still grow it.
    const size_t records = table.entries.size() + table.signers.size();
    out.reserve(std::min(WRITE_CHUNK, records * RECORD_SIZE) + RECORD_SIZE);
    std::vector<uint64_t> merged;
    for (uint32_t i = 0; i < table.entries.size(); ++i) {
        const key_list_table::entry& e = table.entries[i];
        if (e.left_out) continue;
        const uint64_t* first = table.signers.data() + e.first_signer;
        const uint64_t* last = first + e.signer_count;
        auto later = table.later_signers.find(i);
        if (later != table.later_signers.end()) {
            merged.assign(first, last);
            merged.insert(merged.end(), later->second.begin(), later->second.end());
            std::sort(merged.begin(), merged.end());
            merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
            first = merged.data();
            last = first + merged.size();
        }
        put_record(out, RECORD_KEY, e.id);
        ++counts.keys;
        for (const uint64_t* s = first; s != last; ++s) {
            put_record(out, RECORD_SIGNATURE, *s);
            ++counts.signatures;
            if (out.size() >= WRITE_CHUNK) {
                if (!write(out.data(), out.size())) return false;
                out.clear();
            }
        }
    }
    return out.empty() || write(out.data(), out.size());
}
