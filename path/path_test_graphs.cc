#include "path_test_graphs.h"

#include "key_import.h"

#include <cinttypes>
#include <cstdio>
#include <stdexcept>

std::string key_list_text(const std::vector<uint64_t>& ids,
                          const std::vector<std::pair<int, int>>& signatures) {
    std::string text;
    char record[20];
    for (size_t k = 0; k < ids.size(); ++k) {
        std::snprintf(record, sizeof record, "p%016" PRIX64 "\n", ids[k]);
        text += record;
        for (const auto& [signer, signed_key] : signatures) {
            if (signed_key != static_cast<int>(k)) continue;
            uint64_t id = signer < 0 ? 0xDEAD0000BEEF0000ULL : ids[static_cast<size_t>(signer)];
            std::snprintf(record, sizeof record, "s%016" PRIX64 "\n", id);
            text += record;
        }
    }
    return text;
}

path_index index_of_text(const std::string& text) {
    key_graph g;
    key_lookup lookup;
    int status =
        import_keys_from_memory(text.data(), text.size(), "test.keys", nullptr, g, &lookup);
    if (status != 0) throw std::runtime_error("import failed");
    return build_path_index(std::move(g), std::move(lookup));
}
