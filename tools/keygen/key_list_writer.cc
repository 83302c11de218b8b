#include "key_list_writer.h"

#include "key_list_format.h"
#include "random.h"

#include <algorithm>
#include <string>

namespace {

enum random_stream : std::uint64_t { STREAM_SHUFFLE = 2, STREAM_NOISE = 3 };

// Marks an entry of the output order that repeats a key's "p" record.
constexpr std::uint32_t duplicate_entry = 0x80000000U;

struct key_list_output {
    std::FILE* out;
    std::string buffer;
    bool failed = false;
};

void flush_output(key_list_output& o) {
    if (!o.failed && !o.buffer.empty() &&
        std::fwrite(o.buffer.data(), 1, o.buffer.size(), o.out) != o.buffer.size())
        o.failed = true;
    o.buffer.clear();
}

// Appends one record, with lower-case digits or another line end when asked
// (noise that a reader must cope with).
void put_record(key_list_output& o, char type, std::uint64_t id, bool lower, char line_end = '\n') {
    char record[RECORD_SIZE];
    put_key_list_record(record, type, id);
    if (lower)
        for (size_t i = RECORD_ID_AT; i < RECORD_ID_AT + RECORD_ID_CHARS; ++i)
            if (record[i] >= 'A' && record[i] <= 'F')
                record[i] = static_cast<char>(record[i] - 'A' + 'a');
    record[RECORD_LINE_END_AT] = line_end;
    o.buffer.append(record, sizeof record);
    if (o.buffer.size() >= (1U << 20)) flush_output(o);
}

struct key_list_writer {
    const keygen_settings& settings;
    const signature_graph& graph;
    random_state noise;
    std::vector<std::uint64_t> ids;
    std::uint64_t next_unknown_id = 0;
    key_list_output output;

    void record(char type, std::uint64_t id) {
        put_record(output, type, id, random_chance(noise, settings.lower_case));
        if (random_chance(noise, settings.bad_records)) {
            // A record the reader must pass over: an unknown type, or a
            // "p" record whose line ends in a carriage return.
            if (random_chance(noise, 0.5))
                put_record(output, '#', next_u64(noise), false);
            else
                put_record(output, 'p', next_u64(noise), false, '\r');
        }
    }

    void signature(std::uint64_t signer_id) {
        record('s', signer_id);
        if (random_chance(noise, settings.dup_sigs)) record('s', signer_id);
    }

    void unknown_signature() {
        signature(generated_key_id(settings.seed, settings.key_count + next_unknown_id++));
    }
};

// Gives some keys the id_low of another key, keeping every full id distinct.
void make_low_collisions(key_list_writer& w) {
    const std::size_t n = w.ids.size();
    if (n < 2 || w.settings.low_collisions <= 0) return;
    std::vector<std::uint32_t> changed;
    for (std::size_t i = 0; i < n; ++i) {
        if (!random_chance(w.noise, w.settings.low_collisions)) continue;
        std::size_t j = random_below(w.noise, n - 1);
        if (j >= i) ++j;
        w.ids[i] = (w.ids[i] & 0xFFFFFFFF00000000ULL) | (w.ids[j] & 0xFFFFFFFFULL);
        changed.push_back(static_cast<std::uint32_t>(i));
    }
    // Undo the rare change that made a whole id equal to another one.
    std::vector<std::uint64_t> sorted = w.ids;
    std::sort(sorted.begin(), sorted.end());
    for (std::uint32_t i : changed) {
        const auto range = std::equal_range(sorted.begin(), sorted.end(), w.ids[i]);
        if (range.second - range.first > 1) w.ids[i] = w.graph.key_ids[i];
    }
}

} // namespace

bool write_key_list(const keygen_settings& settings, const signature_graph& graph, std::FILE* out) {
    key_list_writer w{settings,      graph, seed_random(settings.seed, STREAM_NOISE),
                      graph.key_ids, 0,     {out, {}, false}};
    w.output.buffer.reserve((1U << 20) + 64);
    make_low_collisions(w);

    const auto n = static_cast<std::uint32_t>(graph.key_ids.size());
    std::vector<std::uint32_t> order(n);
    for (std::uint32_t i = 0; i < n; ++i)
        order[i] = i;
    for (std::uint32_t i = 0; i < n; ++i)
        if (random_chance(w.noise, settings.dup_keys)) order.push_back(i | duplicate_entry);
    // Fisher-Yates shuffle, so that list order is not construction order.
    random_state shuffle = seed_random(settings.seed, STREAM_SHUFFLE);
    for (std::size_t i = order.size(); i > 1; --i)
        std::swap(order[i - 1], order[random_below(shuffle, i)]);

    // Where each key's run of signers starts in the sorted signatures.
    std::vector<std::size_t> first_signature(std::size_t(n) + 1);
    {
        std::size_t s = 0;
        for (std::uint32_t k = 0; k <= n; ++k) {
            while (s < graph.signatures.size() && signed_key_of(graph.signatures[s]) < k)
                ++s;
            first_signature[k] = s;
        }
    }

    for (std::uint32_t entry : order) {
        const std::uint32_t key = entry & ~duplicate_entry;
        w.record('p', w.ids[key]);
        if (entry & duplicate_entry) {
            // The repeated record carries a signature or two of its own.
            const auto extra = static_cast<std::uint32_t>(random_below(w.noise, 3));
            for (std::uint32_t i = 0; i < extra; ++i)
                w.signature(w.ids[random_below(w.noise, n)]);
            continue;
        }
        const std::size_t begin = first_signature[key], end = first_signature[key + 1];
        bool self_signed = false;
        for (std::size_t s = begin; s < end; ++s)
            self_signed |= signer_of(graph.signatures[s]) == key;
        if (!self_signed && random_chance(w.noise, settings.self_sigs)) w.signature(w.ids[key]);
        for (std::size_t s = begin; s < end; ++s)
            w.signature(w.ids[signer_of(graph.signatures[s])]);
        if (random_chance(w.noise, settings.unknown_signers)) w.unknown_signature();
    }
    flush_output(w.output);
    return !w.output.failed;
}
