#pragma once
// Deterministic test data shaped like a game's files before and after translation: text
// from a small vocabulary with binary stretches between, then scattered edits.

#include "common/bytes.h"

#include <algorithm>
#include <random>
#include <string_view>

namespace qm::test {

inline bytes make_text_like(std::size_t size, std::uint32_t seed)
{
    static constexpr std::string_view words[] = {"the ",    "knight ", "Quillmoor ", "village ", "sword ",
                                                 "potion ", "hello ",  "traveler ",  "dragon ",  "quest ",
                                                 "of ",     "and ",    "to ",        "gold ",    "castle "};
    std::mt19937 rng(seed);
    bytes out;
    out.reserve(size + 64);
    while (out.size() < size) {
        if (rng() % 10 < 7) {
            const unsigned n = 3 + rng() % 10;
            for (unsigned i = 0; i < n; ++i) {
                const std::string_view w = words[rng() % std::size(words)];
                out.insert(out.end(), w.begin(), w.end());
            }
            out.push_back('.');
            out.push_back(0);
        } else {
            const unsigned n = 8 + rng() % 120;
            for (unsigned i = 0; i < n; ++i)
                out.push_back(static_cast<std::uint8_t>(rng()));
        }
    }
    out.resize(size);
    return out;
}

// Replacements, insertions and deletions of French phrases at random places. `growth` tilts the
// mix: above 0 the text mostly grows (insertions), below 0 it mostly shrinks (deletions).
inline bytes apply_edits(const bytes& source, std::size_t count, std::uint32_t seed, int growth = 1)
{
    std::mt19937 rng(seed);
    bytes t = source;
    for (std::size_t i = 0; i < count && !t.empty(); ++i) {
        const auto at = t.begin() + static_cast<std::ptrdiff_t>(rng() % t.size());
        const std::ptrdiff_t room = t.end() - at;
        const std::string_view phrase = rng() % 2 ? "chevalier " : "Bonjour voyageur ! ";
        const int kind = static_cast<int>(rng() % 3) + growth; // 2 and up insert, 0 and below delete
        if (kind >= 2)
            t.insert(at, phrase.begin(), phrase.end());
        else if (kind <= 0)
            t.erase(at, at + std::min<std::ptrdiff_t>(1 + rng() % 40, room));
        else
            std::copy_n(phrase.begin(), std::min<std::ptrdiff_t>(std::ssize(phrase), room), at);
    }
    return t;
}

} // namespace qm::test
