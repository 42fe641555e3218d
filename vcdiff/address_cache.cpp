#include "vcdiff/address_cache.h"

#include "vcdiff/decode_error.h"
#include "vcdiff/section_reader.h"
#include "vcdiff/varint_writer.h"

#include <string>

namespace qm::vcdiff {

void address_cache::reset()
{
    near_cache.fill(0);
    next_near = 0;
    same_cache.fill(0);
}

void address_cache::update(std::uint64_t address)
{
    near_cache[next_near] = address;
    next_near = (next_near + 1) % near_cache_size;
    same_cache[address % same_slots] = address;
}

std::uint64_t address_cache::decode(unsigned mode, std::uint64_t here, section_reader& addresses)
{
    // Everything below stays well inside 64 bits: here < 2^32 and each term < 2^31.
    std::uint64_t address = 0;
    if (mode >= first_same_mode) {
        const std::uint8_t b = addresses.read_byte("COPY address");
        address = same_cache[(mode - first_same_mode) * 256 + b];
    } else {
        const std::uint64_t value = addresses.read_int("COPY address");
        if (mode == mode_self) {
            address = value;
        } else if (mode == mode_here) {
            if (value > here)
                throw decode_error("COPY address before the start of the window");
            address = here - value;
        } else {
            address = near_cache[mode - first_near_mode] + value;
        }
    }
    if (address >= here)
        throw decode_error("COPY address " + std::to_string(address) + " not before the current position " +
                           std::to_string(here));
    update(address);
    return address;
}

address_cache::encoded_address address_cache::encode(std::uint64_t address, std::uint64_t here)
{
    encoded_address best{};
    const std::uint64_t slot = address % same_slots;
    if (same_cache[slot] == address) {
        best = {static_cast<std::uint8_t>(first_same_mode + slot / 256),
                static_cast<std::uint32_t>(slot % 256)};
    } else {
        std::uint64_t best_value = address;
        best.mode = mode_self;
        auto consider = [&](unsigned mode, std::uint64_t value) {
            if (varint_length(value) < varint_length(best_value)) {
                best_value = value;
                best.mode = static_cast<std::uint8_t>(mode);
            }
        };
        consider(mode_here, here - address);
        for (unsigned i = 0; i < near_cache_size; ++i)
            if (address >= near_cache[i])
                consider(first_near_mode + i, address - near_cache[i]);
        best.value = static_cast<std::uint32_t>(best_value);
    }
    update(address);
    return best;
}

} // namespace qm::vcdiff
