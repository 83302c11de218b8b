// The OpenPGP reading of korvalinde-keylist: binary packets or armor, fed in
// chunks of any size, must give the same key list and the same counts as
// fed all at once; the key list must be well formed; nothing may crash,
// leak or read out of bounds whatever the lengths in the input claim.
//
// Input: byte 0 holds the chunk size (0: 4096) and bit 7 of byte 1 chooses
// armor; bit 6 verification; bit 5 binary input read from its first key (as
// an input that may start inside a packet); the rest is the data.
#include "fuzz_check.h"
#include "key_list_table.h"
#include "openpgp_armor.h"
#include "openpgp_collection.h"
#include "openpgp_packets.h"

#include <cstdint>
#include <string>

namespace {

struct result {
    std::string list;
    uint64_t blocks = 0;
    uint64_t events = 0;
};

result read_all(const uint8_t* data, size_t size, size_t chunk, bool armored, bool verify,
                bool key_first) {
    openpgp_collection c;
    c.verify = verify;
    c.keep_self_signatures = true;
    packet_stream stream;
    stream.key_first = key_first && !armored;
    stream.on_packet = [&c](unsigned tag, std::span<const uint8_t> body, uint64_t offset) {
        take_openpgp_packet(c, tag, body, offset);
    };
    stream.on_error = [&c](uint64_t, const std::string&, framing_problem problem) {
        if (ends_key_block(problem)) end_openpgp_block(c);
    };
    armor_decoder armor;
    armor.on_data = [&stream](std::span<const uint8_t> d) {
        feed_packets(stream, d.data(), d.size());
    };
    armor.on_block_end = [&](bool, uint64_t, const std::string&) {
        finish_packets(stream);
        end_openpgp_block(c);
    };
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = std::min(chunk, size - at);
        if (armored)
            feed_armor(armor, data + at, n);
        else
            feed_packets(stream, data + at, n);
    }
    if (armored) finish_armor(armor);
    finish_packets(stream);
    end_openpgp_block(c);
    if (verify) verify_signatures(c, 1, nullptr);
    key_list_table table;
    keylist_counts counts;
    add_openpgp_keys(c, table, counts);
    result r;
    written_counts written;
    write_key_list(
        table,
        [&r](const char* d, size_t n) {
            r.list.append(d, n);
            return true;
        },
        written);
    r.blocks = c.counts.key_blocks;
    r.events = c.events.size();
    std::string name;
    for (const key_list_table::entry& e : table.entries)
        (void)primary_user_id(c, e.id, name);
    FUZZ_CHECK(r.list.size() % 18 == 0);
    for (size_t i = 0; i < r.list.size(); i += 18)
        FUZZ_CHECK((r.list[i] == 'p' || r.list[i] == 's') && r.list[i + 17] == '\n');
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t chunk = data[0] == 0 ? 4096 : data[0];
    const bool armored = (data[1] & 0x80) != 0;
    const bool verify = (data[1] & 0x40) != 0;
    const bool key_first = (data[1] & 0x20) != 0;
    const result whole = read_all(data + 2, size - 2, size, armored, verify, key_first);
    const result chunked = read_all(data + 2, size - 2, chunk, armored, verify, key_first);
    FUZZ_CHECK(whole.list == chunked.list);
    FUZZ_CHECK(whole.blocks == chunked.blocks);
    FUZZ_CHECK(whole.events == chunked.events);
    return 0;
}
