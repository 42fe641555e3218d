#pragma once
// Random but valid ROM descriptions from a seed, for property tests and quick demos.

#include "tools/rom_image_builder.h"
#include "tools/seeded_random.h"

#include <cstdint>

namespace qm {

struct rom_generator_options {
    std::uint32_t max_files = 24; // named files in the whole tree
    std::uint32_t max_depth = 3;  // directory nesting below the root
    std::uint32_t max_file_size = 3000;
    std::uint32_t max_overlays = 4; // per overlay table
};

// The same seed always gives the same description. Names are unique within each directory and
// never empty, so paths and file ids map one to one. Overlays that the LZ encoder cannot pack are
// stored plain.
rom_description random_rom_description(std::uint64_t seed, const rom_generator_options& options = {});

// Bytes that look like ARM code: 32-bit words drawn mostly from a small set, so they pack well.
bytes code_like_bytes(seeded_random& random, std::size_t length);

} // namespace qm
