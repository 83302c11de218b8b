// How the graph is built, and why it looks like a real signature graph.
//
// Real OpenPGP keyrings have one giant strongly connected set (the strong
// set: people who went to key-signing parties and signed each other), a few
// hub keys that signed or were signed by thousands, most keys with a handful
// of signatures, a large share of returned signatures, and beyond the strong
// set: keys signed by one or two members (and chains of such keys, where a
// newcomer was signed by a friend who was signed by a member), and keys no
// member can reach (single keys, small circles of friends, and keys that
// signed members but were never signed back).
//
// The generator builds those three populations separately:
//
// - Core: every core key draws a heavy-tailed activity weight (Pareto, tail
//   exponent 4/3), capped so that no key dominates. A backbone first ties each
//   key to an earlier, usually heavier, key by a pair of mutual signatures,
//   which makes the whole core one strongly connected set. The rest of the
//   signature budget is spent Chung-Lu style: signer and signed key are drawn
//   in proportion to their out- and in-weights (correlated, as active signers
//   also collect signatures), and each signature is returned with the
//   reciprocal probability. Degrees then follow the weights: a few hubs, many
//   keys with few signatures.
// - Tails: keys hang below the core in chains (each link signed by the one
//   before it, sometimes also by an earlier link), started by a core key drawn
//   by activity or by an existing tail key, so trees and long paths form. Tail
//   keys never sign anything upstream, so they stay outside the strong set but
//   reachable from it. One chain has the full --max-chain length.
// - Islands: single keys (half with only a self-signature), small groups that
//   sign each other, and keys that signed core keys but were never signed.
//
// Duplicate signatures drawn by chance are removed and redrawn, so the clean
// list has each signature once and no self-signature outside the islands.
#include "signature_graph.h"

#include "random.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

enum random_stream : std::uint64_t { STREAM_GRAPH = 1 };

struct graph_builder {
    const keygen_settings& settings;
    random_state random;
    signature_graph graph;
    std::vector<double> out_weight; // core keys only
    std::vector<double> in_weight;
    alias_table signer_table;
    alias_table signed_table;

    void add(std::uint32_t signer, std::uint32_t signed_key) {
        graph.signatures.push_back(pack_signature(signer, signed_key));
    }
};

std::uint64_t round_to_count(double x) {
    return x <= 0 ? 0 : static_cast<std::uint64_t>(std::llround(x));
}

void split_populations(graph_builder& b) {
    const std::uint64_t n = b.settings.key_count;
    std::uint64_t islands = std::min(n, round_to_count(double(n) * b.settings.island_fraction));
    std::uint64_t tails =
        std::min(n - islands, round_to_count(double(n) * b.settings.tail_fraction));
    // A strong set needs two keys; take them from the tails, then the islands.
    const std::uint64_t min_core = std::min<std::uint64_t>(n, 2);
    while (n - islands - tails < min_core)
        (tails > 0 ? tails : islands) -= 1;
    b.graph.core_count = static_cast<std::uint32_t>(n - islands - tails);
    b.graph.tail_count = static_cast<std::uint32_t>(tails);
    b.graph.island_count = static_cast<std::uint32_t>(islands);
}

// Activity weights of the core keys, heaviest first so that the backbone can
// hang each key below an earlier one.
void draw_core_weights(graph_builder& b) {
    const std::uint32_t core = b.graph.core_count;
    std::vector<double> base(core);
    for (double& w : base)
        w = random_pareto_weight(b.random);
    std::sort(base.begin(), base.end(), std::greater<double>());
    // Cap the heaviest keys at sqrt(core) weight units: with the mean weight
    // of about 3 this keeps the biggest hub at a few percent of a large core,
    // as in real keyrings.
    const double cap = std::max(2.0, std::sqrt(double(core)));
    b.out_weight.resize(core);
    b.in_weight.resize(core);
    for (std::uint32_t i = 0; i < core; ++i) {
        const double w = std::min(base[i], cap);
        b.out_weight[i] = w * (0.5 + random_unit(b.random));
        b.in_weight[i] = w * (0.5 + random_unit(b.random));
    }
    b.signer_table = make_alias_table(b.out_weight);
    b.signed_table = make_alias_table(b.in_weight);
}

// A key of the core other than `not_this`, drawn by weight, or by
// uniformity when the weights keep hitting it.
std::uint32_t draw_core(graph_builder& b, const alias_table& table, std::uint32_t not_this) {
    const std::uint32_t core = b.graph.core_count;
    if (core < 2) return 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::uint32_t k = alias_draw(table, b.random);
        if (k != not_this) return k;
    }
    const auto k = static_cast<std::uint32_t>(random_below(b.random, core - 1));
    return k >= not_this ? k + 1 : k;
}

void build_tails(graph_builder& b) {
    const std::uint32_t first = b.graph.core_count;
    const std::uint32_t end = first + b.graph.tail_count;
    if (b.graph.core_count == 0) return;
    // At most 2^31 - 1 (graph_shape_options.cc).
    const auto max_chain = static_cast<std::uint32_t>(b.settings.max_chain);
    bool long_chain_made = false;
    std::uint32_t k = first;
    while (k < end) {
        std::uint32_t length;
        const bool long_chain = !long_chain_made;
        if (long_chain) {
            length = max_chain;
            long_chain_made = true;
        } else {
            const double w = random_pareto_weight(b.random);
            length = w >= double(max_chain) ? max_chain : static_cast<std::uint32_t>(w);
        }
        length = std::min(length, end - k);

        // Who signs the chain's first key: mostly an active core key, else a
        // key already hanging below the core, which grows trees and deep paths.
        std::uint32_t head_signer;
        const bool from_core = k == first || random_chance(b.random, 0.75);
        if (from_core)
            head_signer = alias_draw(b.signer_table, b.random);
        else
            head_signer = first + static_cast<std::uint32_t>(random_below(b.random, k - first));
        b.add(head_signer, k);
        if (from_core && length == 1 && random_chance(b.random, 0.3))
            b.add(draw_core(b, b.signer_table, head_signer), k);

        for (std::uint32_t i = 1; i < length; ++i) {
            const std::uint32_t key = k + i;
            b.add(key - 1, key);
            // Sometimes also signed by an earlier link of the same chain,
            // which keeps the chain's distances long. The longest chain
            // keeps its full length, so far distances exist when asked for.
            if (!long_chain && i >= 2 && random_chance(b.random, 0.25))
                b.add(k + static_cast<std::uint32_t>(random_below(b.random, i - 1)), key);
            // Friends along a chain often sign each other; this forms small
            // strongly connected sets outside the strong set.
            if (random_chance(b.random, b.settings.reciprocal * 0.3)) b.add(key, key - 1);
        }
        k += length;
    }
}

void build_islands(graph_builder& b) {
    std::uint32_t k = b.graph.core_count + b.graph.tail_count;
    const std::uint32_t end = k + b.graph.island_count;
    while (k < end) {
        const double kind = random_unit(b.random);
        if (kind < 0.35 || end - k == 1) {
            // A lone key, half of them with their own signature only.
            if (random_chance(b.random, 0.5)) b.add(k, k);
            k += 1;
        } else if (kind < 0.6 && b.graph.core_count > 0) {
            // Signed some core keys but was never signed by anyone.
            const std::uint32_t n = 1 + static_cast<std::uint32_t>(random_below(b.random, 3));
            std::uint32_t previous = b.graph.core_count; // not a core index
            for (std::uint32_t i = 0; i < n; ++i) {
                const std::uint32_t target = draw_core(b, b.signed_table, previous);
                if (target != previous) b.add(k, target);
                previous = target;
            }
            k += 1;
        } else {
            // A small circle of friends: a ring of signatures, mostly mutual.
            const std::uint32_t size = std::min<std::uint32_t>(
                end - k, 2 + static_cast<std::uint32_t>(random_below(b.random, 7)));
            for (std::uint32_t i = 0; i + 1 < size; ++i) {
                b.add(k + i, k + i + 1);
                if (random_chance(b.random, std::max(b.settings.reciprocal, 0.3)))
                    b.add(k + i + 1, k + i);
            }
            k += size;
        }
    }
}

// Sorts the signatures added since `from` into the sorted prefix and drops
// repeats.
void merge_and_deduplicate(std::vector<std::uint64_t>& s, std::size_t from) {
    std::sort(s.begin() + static_cast<std::ptrdiff_t>(from), s.end());
    std::inplace_merge(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(from), s.end());
    s.erase(std::unique(s.begin(), s.end()), s.end());
}

void build_core(graph_builder& b, std::uint64_t total_target) {
    const std::uint32_t core = b.graph.core_count;
    auto& s = b.graph.signatures;
    if (core < 2) return;

    // Backbone: mutual signatures with an earlier key make one strong set.
    for (std::uint32_t j = 1; j < core; ++j) {
        std::uint32_t p = alias_draw(b.signed_table, b.random);
        if (p >= j) p = static_cast<std::uint32_t>(random_below(b.random, j));
        b.add(j, p);
        b.add(p, j);
    }
    std::sort(s.begin(), s.end());
    s.erase(std::unique(s.begin(), s.end()), s.end());

    // Never ask for more than half of all possible core signatures, or the
    // redraws of repeats would not end.
    const std::uint64_t core_possible = std::uint64_t(core) * (core - 1) / 2;
    const std::uint64_t fixed = s.size();
    std::uint64_t wanted = total_target > fixed ? total_target - fixed : 0;
    wanted = std::min(wanted, core_possible > fixed ? core_possible - fixed : 0);
    const std::uint64_t target = fixed + wanted;

    for (int round = 0; round < 12 && s.size() < target; ++round) {
        const std::size_t from = s.size();
        std::uint64_t missing = target - from;
        while (missing > 0) {
            const std::uint32_t signer = alias_draw(b.signer_table, b.random);
            const std::uint32_t signed_key = draw_core(b, b.signed_table, signer);
            b.add(signer, signed_key);
            --missing;
            if (missing > 0 && random_chance(b.random, b.settings.reciprocal)) {
                b.add(signed_key, signer);
                --missing;
            }
        }
        merge_and_deduplicate(s, from);
    }
}

} // namespace

std::uint64_t generated_key_id(std::uint64_t seed, std::uint64_t i) {
    return mix64(mix64(seed ^ 0x4B65794C69737421ULL) + i);
}

signature_graph build_signature_graph(const keygen_settings& settings) {
    graph_builder b{settings, seed_random(settings.seed, STREAM_GRAPH), {}, {}, {}, {}, {}};
    split_populations(b);
    const std::uint64_t n = settings.key_count;
    b.graph.key_ids.resize(n);
    for (std::uint64_t i = 0; i < n; ++i)
        b.graph.key_ids[i] = generated_key_id(settings.seed, i);

    const std::uint64_t total_target = round_to_count(double(n) * settings.mean_signatures);
    b.graph.signatures.reserve(total_target + total_target / 8 + 16);
    draw_core_weights(b);
    build_tails(b);
    build_islands(b);
    build_core(b, total_target);
    // The core leaves everything sorted; without a core (fewer than two
    // keys) the rest still needs it, and a ring of two keys may hold a repeat.
    auto& s = b.graph.signatures;
    if (!std::is_sorted(s.begin(), s.end())) std::sort(s.begin(), s.end());
    b.graph.signatures.erase(std::unique(b.graph.signatures.begin(), b.graph.signatures.end()),
                             b.graph.signatures.end());
    return std::move(b.graph);
}
