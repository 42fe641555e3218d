#pragma once
// The COPY address caches (RFC 3284 section 5.1): a round-robin "near" cache of the last
// four addresses and a "same" cache of 3 x 256 addresses hashed by value. Both start empty
// at every window; encoder and decoder update them identically after each COPY.

#include "vcdiff/code_table.h"

#include <array>
#include <cstdint>

namespace qm::vcdiff {

class section_reader;

class address_cache {
public:
    void reset();

    // Reads the address of a COPY in `mode` from `addresses` and checks that it lies before
    // `here` (the source segment length plus the bytes of this window decoded so far).
    std::uint64_t decode(unsigned mode, std::uint64_t here, section_reader& addresses);

    struct encoded_address {
        std::uint8_t mode;
        std::uint32_t value; // a single byte for the SAME modes, an integer otherwise
    };
    // Picks the mode that writes `address` (< here) in the fewest bytes.
    encoded_address encode(std::uint64_t address, std::uint64_t here);

private:
    void update(std::uint64_t address);

    static constexpr unsigned same_slots = same_cache_size * 256;

    std::array<std::uint64_t, near_cache_size> near_cache{};
    unsigned next_near = 0;
    std::array<std::uint64_t, same_slots> same_cache{};
};

} // namespace qm::vcdiff
