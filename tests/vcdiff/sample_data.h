#pragma once
// Deterministic test data shaped like a game's files before and after translation: text
// from a small vocabulary with binary stretches between, then scattered edits.

#include "common/bytes.h"

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

// Replacements, insertions and deletions at random places. `growth` tilts the mix: above 0
// the text mostly grows (insertions), below 0 it mostly shrinks (deletions).
inline bytes apply_edits(const bytes& source, std::size_t count, std::uint32_t seed, int growth = 1)
{
    static constexpr std::string_view phrases[] = {"chevalier ",      "Bonjour voyageur ! ", "village ",
                                                   "potion de soin ", "le dragon ",          "or "};
    std::mt19937 rng(seed);
    bytes t = source;
    for (std::size_t i = 0; i < count && !t.empty(); ++i) {
        const std::size_t pos = rng() % t.size();
        const std::string_view phrase = phrases[rng() % std::size(phrases)];
        const unsigned kind = rng() % 10;
        const unsigned insert_share = growth > 0 ? 6 : growth < 0 ? 1 : 3;
        const unsigned delete_share = growth < 0 ? 6 : growth > 0 ? 1 : 3;
        if (kind < insert_share) {
            t.insert(t.begin() + static_cast<std::ptrdiff_t>(pos), phrase.begin(), phrase.end());
        } else if (kind < insert_share + delete_share) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % 40, t.size() - pos);
            t.erase(t.begin() + static_cast<std::ptrdiff_t>(pos),
                    t.begin() + static_cast<std::ptrdiff_t>(pos + n));
        } else {
            for (std::size_t j = 0; j < phrase.size() && pos + j < t.size(); ++j)
                t[pos + j] = static_cast<std::uint8_t>(phrase[j]);
        }
    }
    return t;
}

} // namespace qm::test
