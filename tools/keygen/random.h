// Portable pseudo-random numbers for the key list generator.
//
// Everything here uses only integer arithmetic and the IEEE basic operations
// (+, -, *, /, sqrt), which give the same bits on every conforming machine.
// That is what makes a seed reproduce the same key list everywhere; the
// standard library's distributions and transcendental functions do not
// promise that.
#pragma once

#include <cstdint>
#include <vector>

// The splitmix64 output function: a bijection on 64-bit values.
inline std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// One splitmix64 step; used to expand a seed into generator state.
inline std::uint64_t splitmix64_next(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ULL;
    return mix64(state);
}

// xoshiro256** state.
struct random_state {
    std::uint64_t s[4];
};

// Seeds an independent generator for one purpose (stream) of one seed, so
// that e.g. turning on noise never changes the graph itself.
random_state seed_random(std::uint64_t seed, std::uint64_t stream);

inline std::uint64_t rotl64(std::uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

inline std::uint64_t next_u64(random_state& r) {
    std::uint64_t* s = r.s;
    const std::uint64_t result = rotl64(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl64(s[3], 45);
    return result;
}

// Uniform integer in [0, bound); bound must be at least 1.
std::uint64_t random_below(random_state& r, std::uint64_t bound);

// Uniform double in [0, 1) with 53 random bits.
inline double random_unit(random_state& r) {
    return static_cast<double>(next_u64(r) >> 11) * (1.0 / 9007199254740992.0);
}

// True with probability p.
inline bool random_chance(random_state& r, double p) {
    return random_unit(r) < p;
}

// Heavy-tailed weight >= 1 with P(W > x) = x^(-4/3) (a Pareto law with
// exponent 4/3, close to the degree laws seen in signature graphs). Computed
// as (1-u)^(-3/4) from square roots only, to stay bit-reproducible.
double random_pareto_weight(random_state& r);

// Walker/Vose alias table: draws index i with probability weight[i] / sum.
struct alias_table {
    std::vector<double> probability;
    std::vector<std::uint32_t> alias;
};

alias_table make_alias_table(const std::vector<double>& weights);

inline std::uint32_t alias_draw(const alias_table& t, random_state& r) {
    const auto i = static_cast<std::uint32_t>(random_below(r, t.probability.size()));
    return random_unit(r) < t.probability[i] ? i : t.alias[i];
}
