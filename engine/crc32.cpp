#include "engine/crc32.h"

#include <array>

namespace qm {

namespace {

// Reflected polynomial 0xEDB88320; built once, shared by every caller.
constexpr std::array<std::uint32_t, 256> make_crc32_table() noexcept
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int k = 0; k < 8; ++k)
            r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        table[i] = r;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> crc32_table = make_crc32_table();

} // namespace

std::uint32_t crc32(const std::uint8_t* data, std::uint32_t count) noexcept
{
    std::uint32_t r = 0xFFFFFFFFu;
    for (std::uint32_t i = 0; i < count; ++i)
        r = (r >> 8) ^ crc32_table[(r ^ data[i]) & 0xFF];
    return ~r;
}

} // namespace qm
