#include "verify_pipeline_test_dump.h"

#include "openpgp_test_dump.h"

#include <string>

namespace {

constexpr uint32_t T0 = 1500000000;

} // namespace

std::vector<uint8_t> mixed_signer_dump() {
    constexpr int KEYS = 60;
    std::vector<test_key> keys;
    keys.reserve(KEYS);
    for (int i = 0; i < KEYS; ++i)
        keys.push_back(ed25519_test_key(static_cast<uint8_t>(i + 1), T0 + 100 * i));
    bytes dump;
    for (int i = 0; i < KEYS; ++i) {
        const test_key& key = keys[i];
        const std::string text = "key " + std::to_string(i) + " <k" + std::to_string(i) + ">";
        add_key(dump, key);
        add_user_id(dump, text);
        add_signature(dump, key, spec_by(key, 0x13, key.created), key, text);
        for (int k = 1; k <= 12; ++k) {
            const test_key& signer = keys[(i + 7 * k) % KEYS];
            if (&signer == &key) continue;
            const uint32_t created = k % 5 == 0 ? signer.created - 1 : T0 + 100 * KEYS + k;
            add_signature(dump, signer, spec_by(signer, 0x10, created), key, text, k % 4 == 0);
        }
    }
    return dump;
}
