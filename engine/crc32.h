#pragma once
// CRC-32 of IEEE 802.3 (as in zlib and PNG), used for every checksum of the patch.

#include <cstdint>

namespace qm {

std::uint32_t crc32(const std::uint8_t* data, std::uint32_t count) noexcept;

} // namespace qm
