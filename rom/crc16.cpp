#include "rom/nds_rom.h"

#include <array>

namespace qm {

namespace {

// CRC of each nibble value under the reflected polynomial 0xA001, so the checksum advances four
// bits at a time, low nibble of each byte first.
constexpr std::array<std::uint16_t, 16> nibble_table = {
    0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00, 0x2800, 0xE401,
    0xA001, 0x6C00, 0x7800, 0xB401, 0x5000, 0x9C01, 0x8801, 0x4400,
};

} // namespace

std::uint16_t crc16(byte_span data)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : data) {
        crc = static_cast<std::uint16_t>((crc >> 4) ^ nibble_table[(crc ^ b) & 0xF]);
        crc = static_cast<std::uint16_t>((crc >> 4) ^ nibble_table[(crc ^ (b >> 4)) & 0xF]);
    }
    return crc;
}

} // namespace qm
