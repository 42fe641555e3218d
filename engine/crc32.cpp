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
    return crc32_continue(0, byte_span(data, count));
}

std::uint32_t crc32_continue(std::uint32_t previous, byte_span data) noexcept
{
    std::uint32_t r = ~previous;
    for (std::uint8_t b : data)
        r = (r >> 8) ^ crc32_table[(r ^ b) & 0xFF];
    return ~r;
}

} // namespace qm
