#pragma once
// Building blocks of the sample game's generated data: independent random streams per purpose,
// and bulk contents that look like a game's graphics, sound and tables.

#include "common/bytes.h"
#include "tools/seeded_random.h"

#include <cstdint>

namespace qm {

// The stream of one purpose: streams of different purposes do not shift one another, so the
// translated parts stay the same whatever size the bulk takes.
seeded_random sample_stream(std::uint64_t seed, std::uint64_t purpose);

enum class bulk_kind : std::uint8_t {
    tiles, // 4-bit pixels in runs of a few colours: packs well
    noise, // already compressed data (sound, movies): does not pack
    table, // fixed-size records of small numbers
};

bytes bulk_data(seeded_random& random, bulk_kind kind, std::size_t length);

// A kind drawn with the mix of the whole sample (about half graphics, a third noise).
bulk_kind any_bulk_kind(seeded_random& random);

} // namespace qm
