#include "rom/rom_layout.h"

#include "common/bytes.h"
#include "rom/nds_format.h"

#include <stdexcept>

namespace qm {

std::uint64_t section_start(std::uint64_t end) noexcept
{
    return round_up(end, nds::section_alignment);
}

std::uint64_t section_end(std::uint64_t start, std::uint64_t length)
{
    if (start > max_rebuilt_rom_end || length > max_rebuilt_rom_end - start)
        throw std::runtime_error("nds_rom::copy_to failed - rebuilt ROM would reach 4 GiB");
    return start + length;
}

unsigned image_size_exponent(std::uint64_t end) noexcept
{
    unsigned n = 0;
    while (n < 63 && (std::uint64_t{1} << n) < end)
        ++n;
    return n;
}

std::uint8_t capacity_code(unsigned exponent) noexcept
{
    return static_cast<std::uint8_t>(
        exponent >= nds::capacity_base_exponent ? exponent - nds::capacity_base_exponent : 0);
}

std::uint32_t overlay_stored_word(std::uint32_t old_word, std::uint64_t stored_length)
{
    if (stored_length > nds::ovt_stored_size_mask)
        throw std::runtime_error(
            "nds_rom::copy_to failed - compressed overlay too large for its table entry");
    return (old_word & ~nds::ovt_stored_size_mask) | static_cast<std::uint32_t>(stored_length);
}

} // namespace qm
