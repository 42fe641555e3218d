#pragma once
// Shared inputs of the LZ tests.

#include "common/bytes.h"

#include <random>
#include <sstream>
#include <string>

namespace qm::lz_test {

inline bytes from_hex(const std::string& hex)
{
    bytes out;
    std::istringstream in(hex);
    unsigned v = 0;
    while (in >> std::hex >> v)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

inline bytes from_text(const std::string& s)
{
    return bytes(s.begin(), s.end());
}

// Data of every character the codec meets: noise, runs, short periods, a small alphabet (many
// medium-length matches), and noise with copied blocks.
inline bytes make_data(std::mt19937& rng, std::size_t n, int kind)
{
    bytes out(n);
    std::uniform_int_distribution<int> byte(0, 255);
    switch (kind % 5) {
    case 0:
        for (auto& b : out)
            b = static_cast<std::uint8_t>(byte(rng));
        break;
    case 1:
        for (std::size_t i = 0; i < n;) {
            const auto v = static_cast<std::uint8_t>(byte(rng) & 3);
            const std::size_t run = 1 + rng() % 40;
            for (std::size_t k = 0; k < run && i < n; ++k)
                out[i++] = v;
        }
        break;
    case 2: {
        const std::size_t period = 1 + rng() % 9;
        for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<std::uint8_t>(i < period ? byte(rng) : out[i - period]);
        break;
    }
    case 3:
        for (auto& b : out)
            b = static_cast<std::uint8_t>(rng() % 2 ? 'a' : 'b');
        break;
    default:
        for (std::size_t i = 0; i < n; ++i) {
            if (i > 64 && rng() % 16 == 0) {
                const std::size_t len = 3 + rng() % 30;
                const std::size_t from = i - 1 - rng() % std::min<std::size_t>(i - 1, 5000);
                for (std::size_t k = 0; k < len && i < n; ++k, ++i)
                    out[i] = out[from + k];
                --i;
            } else {
                out[i] = static_cast<std::uint8_t>(byte(rng));
            }
        }
    }
    return out;
}

} // namespace qm::lz_test
