// The names korvalinde-keylist writes for keys read from OpenPGP data, from
// dumps where someone other than the key holder added user ids, forged
// self-signatures or kept user ids their holder revoked.
#include "openpgp_test_dump.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr uint32_t T0 = 1500000000;

struct name_case {
    const char* name;
    std::function<void(bytes&)> victim_blocks;
    const char* expected; // nullptr: no line for the key
    const char* options = "";
};

TEST(OpenpgpNames, OnlyUserIdsTheKeyItselfSignedAndDidNotRevoke) {
    const test_key victim = ed25519_test_key(1, T0);
    const test_key signer = ed25519_test_key(2, T0);
    const auto self = [&](bytes& d, const char* text, uint32_t at, bool primary = false,
                          bool forged = false) {
        signature_spec spec = spec_by(victim, 0x13, at);
        spec.primary_user_id = primary;
        add_signature(d, victim, spec, victim, text, forged);
    };
    const auto revoke = [&](bytes& d, const char* text, uint32_t at, bool forged = false) {
        add_signature(d, victim, spec_by(victim, 0x30, at), victim, text, forged);
    };
    // The other key's certification gives the victim a record.
    const auto certified = [&](bytes& d, const char* text) {
        add_user_id(d, text);
        add_signature(d, signer, spec_by(signer, 0x10, T0 + 100), victim, text);
    };
    const auto block = [&](bytes& d) { add_key(d, victim); };
    const std::vector<name_case> cases = {
        {"a copy with another user id earlier in the dump",
         [&](bytes& d) {
             block(d);
             certified(d, "Mallory");
             block(d);
             certified(d, "Victim");
             self(d, "Victim", T0 + 10);
         },
         "Victim"},
        {"a forged self-signature, flagged primary and later",
         [&](bytes& d) {
             block(d);
             add_user_id(d, "Mallory");
             self(d, "Mallory", T0 + 50, true, true);
             block(d);
             certified(d, "Victim");
             self(d, "Victim", T0 + 10);
         },
         "Victim"},
        {"the same, unverified: self-signatures are still checked",
         [&](bytes& d) {
             block(d);
             add_user_id(d, "Mallory");
             self(d, "Mallory", T0 + 50, true, true);
             certified(d, "Victim");
             self(d, "Victim", T0 + 10);
         },
         "Victim", "--no-verify"},
        {"a user id its holder revoked",
         [&](bytes& d) {
             block(d);
             add_user_id(d, "Old");
             self(d, "Old", T0 + 10, true);
             revoke(d, "Old", T0 + 20);
             certified(d, "Victim");
             self(d, "Victim", T0 + 10);
         },
         "Victim"},
        {"certified again after the revocation",
         [&](bytes& d) {
             block(d);
             add_user_id(d, "Old");
             self(d, "Old", T0 + 10);
             revoke(d, "Old", T0 + 20);
             self(d, "Old", T0 + 30, true);
             certified(d, "Victim");
             self(d, "Victim", T0 + 40);
         },
         "Old"},
        {"a forged revocation revokes nothing",
         [&](bytes& d) {
             block(d);
             add_user_id(d, "Old");
             self(d, "Old", T0 + 10, true);
             revoke(d, "Old", T0 + 20, true);
             certified(d, "Victim");
             self(d, "Victim", T0 + 40);
         },
         "Old"},
        {"none flagged: the latest self-signature",
         [&](bytes& d) {
             block(d);
             add_user_id(d, "Older");
             self(d, "Older", T0 + 10);
             certified(d, "Victim");
             self(d, "Victim", T0 + 40);
         },
         "Victim"},
        {"the self-signature in another block of the key",
         [&](bytes& d) {
             block(d);
             certified(d, "Victim");
             block(d);
             add_user_id(d, "Victim");
             self(d, "Victim", T0 + 10);
         },
         "Victim"},
        {"no signed user id: no name",
         [&](bytes& d) {
             block(d);
             certified(d, "Mallory");
         },
         nullptr},
    };
    for (const name_case& c : cases) {
        SCOPED_TRACE(c.name);
        bytes dump;
        add_key(dump, signer);
        add_user_id(dump, "Signer");
        add_signature(dump, signer, spec_by(signer, 0x13, T0), signer, "Signer");
        c.victim_blocks(dump);
        const keylist_run run = run_keylist(dump, c.options);
        ASSERT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.list, "p" + victim.hex_id + "\ns" + signer.hex_id + "\n");
        const std::string expected =
            c.expected == nullptr ? "" : victim.hex_id + "\t" + c.expected + "\n";
        EXPECT_EQ(run.names, signer.hex_id + "\tSigner\n" + expected);
    }
}

} // namespace
