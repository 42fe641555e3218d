#pragma once
// A small deterministic random source (splitmix64): the same seed gives the same sequence on
// every platform and compiler, unlike the standard distributions.

#include "common/bytes.h"

#include <cstdint>

namespace qm {

class seeded_random {
public:
    explicit seeded_random(std::uint64_t seed) noexcept : state(seed) {}

    std::uint64_t next() noexcept
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // A value in [0, n), n > 0 (the slight modulo bias does not matter here).
    std::uint64_t below(std::uint64_t n) noexcept { return next() % n; }

    // A value in [lo, hi].
    std::uint64_t between(std::uint64_t lo, std::uint64_t hi) noexcept { return lo + below(hi - lo + 1); }

    bool chance(unsigned percent) noexcept { return below(100) < percent; }

    bytes fill(std::size_t n)
    {
        bytes out(n);
        for (auto& b : out)
            b = static_cast<std::uint8_t>(next());
        return out;
    }

private:
    std::uint64_t state;
};

} // namespace qm
