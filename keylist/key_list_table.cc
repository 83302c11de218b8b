#include "key_list_table.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace {

constexpr size_t RECORD_SIZE = 18;
constexpr size_t WRITE_CHUNK = 1 << 20;

void put_record(std::string& out, char type, uint64_t id) {
    static const char digits[] = "0123456789ABCDEF";
    char record[RECORD_SIZE];
    record[0] = type;
    for (int i = 0; i < 16; ++i)
        record[1 + i] = digits[(id >> (60 - 4 * i)) & 0xF];
    record[17] = '\n';
    out.append(record, RECORD_SIZE);
}

} // namespace

void add_key_block(key_list_table& table, uint64_t id, bool kept,
                   const std::vector<uint64_t>& signers) {
    auto found = table.index.find(id);
    if (found != table.index.end()) {
        key_list_table::entry& e = table.entries[found->second];
        if (!kept) {
            e.left_out = true;
        } else if (!signers.empty() && !e.left_out) {
            std::vector<uint64_t>& later = table.later_signers[found->second];
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
    table.index.emplace(id, position);
}

bool write_key_list(const key_list_table& table,
                    const std::function<bool(const char*, size_t)>& write, written_counts& counts) {
    std::string out;
    out.reserve(WRITE_CHUNK + RECORD_SIZE);
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
        put_record(out, 'p', e.id);
        ++counts.keys;
        for (const uint64_t* s = first; s != last; ++s) {
            put_record(out, 's', *s);
            ++counts.signatures;
            if (out.size() >= WRITE_CHUNK) {
                if (!write(out.data(), out.size())) return false;
                out.clear();
            }
        }
    }
    return out.empty() || write(out.data(), out.size());
}
