#include "tools/sample_data.h"

#include <algorithm>

namespace qm {

seeded_random sample_stream(std::uint64_t seed, std::uint64_t purpose)
{
    seeded_random mix(seed ^ (purpose * 0xD1B54A32D192ED03ull));
    mix.next();
    return seeded_random(mix.next());
}

bytes bulk_data(seeded_random& random, bulk_kind kind, std::size_t length)
{
    bytes out(length);
    switch (kind) {
    case bulk_kind::noise:
        for (std::size_t i = 0; i < length; i += 8) {
            const std::uint64_t v = random.next();
            for (std::size_t k = 0; k < 8 && i + k < length; ++k)
                out[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
        }
        break;
    case bulk_kind::tiles: {
        // Runs of one byte (two pixels of one colour) drawn from a four-colour palette.
        std::uint8_t palette[4];
        for (auto& p : palette)
            p = static_cast<std::uint8_t>((random.below(16) << 4) | random.below(16));
        for (std::size_t i = 0; i < length;) {
            const std::uint64_t v = random.next();
            const std::size_t run = std::min<std::size_t>(1 + (v & 15), length - i);
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(i), run, palette[(v >> 4) & 3]);
            i += run;
        }
        break;
    }
    case bulk_kind::table:
        for (std::size_t i = 0; i < length; i += 16) {
            const std::uint64_t v = random.next();
            for (std::size_t k = 0; k < 16 && i + k < length; ++k)
                out[i + k] = k < 4   ? static_cast<std::uint8_t>(v >> (8 * k)) & 0x3F
                             : k < 8 ? 0
                                     : static_cast<std::uint8_t>(k);
        }
        break;
    }
    return out;
}

bulk_kind any_bulk_kind(seeded_random& random)
{
    const auto r = random.below(6);
    return r < 3 ? bulk_kind::tiles : r < 5 ? bulk_kind::noise : bulk_kind::table;
}

} // namespace qm
