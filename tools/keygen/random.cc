#include "random.h"

#include <cmath>

random_state seed_random(std::uint64_t seed, std::uint64_t stream) {
    std::uint64_t state = seed ^ mix64(stream + 0x632BE59BD9B4E019ULL);
    random_state r;
    for (auto& word : r.s)
        word = splitmix64_next(state);
    // xoshiro must not start from the all-zero state.
    if ((r.s[0] | r.s[1] | r.s[2] | r.s[3]) == 0) r.s[0] = 1;
    return r;
}

std::uint64_t random_below(random_state& r, std::uint64_t bound) {
    // Lemire's multiply-and-reject: unbiased and without division in the
    // common case.
    unsigned __int128 m = static_cast<unsigned __int128>(next_u64(r)) * bound;
    auto low = static_cast<std::uint64_t>(m);
    if (low < bound) {
        const std::uint64_t threshold = (0 - bound) % bound;
        while (low < threshold) {
            m = static_cast<unsigned __int128>(next_u64(r)) * bound;
            low = static_cast<std::uint64_t>(m);
        }
    }
    return static_cast<std::uint64_t>(m >> 64);
}

double random_pareto_weight(random_state& r) {
    // 1 - u lies in (0, 1], so the root is never taken of 0.
    const double x = 1.0 - random_unit(r);
    const double root = std::sqrt(x);
    return 1.0 / (root * std::sqrt(root));
}

alias_table make_alias_table(const std::vector<double>& weights) {
    const std::size_t n = weights.size();
    alias_table t;
    t.probability.assign(n, 1.0);
    t.alias.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        t.alias[i] = static_cast<std::uint32_t>(i);
    double sum = 0;
    for (double w : weights)
        sum += w;
    if (n == 0 || !(sum > 0)) return t;

    std::vector<double> scaled(n);
    std::vector<std::uint32_t> small, large;
    for (std::size_t i = 0; i < n; ++i) {
        scaled[i] = weights[i] * static_cast<double>(n) / sum;
        (scaled[i] < 1.0 ? small : large).push_back(static_cast<std::uint32_t>(i));
    }
    while (!small.empty() && !large.empty()) {
        const std::uint32_t s = small.back();
        small.pop_back();
        const std::uint32_t l = large.back();
        t.probability[s] = scaled[s];
        t.alias[s] = l;
        scaled[l] = (scaled[l] + scaled[s]) - 1.0;
        if (scaled[l] < 1.0) {
            large.pop_back();
            small.push_back(l);
        }
    }
    // Whatever is left over is 1 up to rounding error.
    for (std::uint32_t i : small)
        t.probability[i] = 1.0;
    for (std::uint32_t i : large)
        t.probability[i] = 1.0;
    return t;
}
