#pragma once
// CRC-32 of IEEE 802.3 (as in zlib and PNG), used for every checksum of the patch.

#include "common/bytes.h"

#include <cstdint>

namespace qm {

std::uint32_t crc32(byte_span data) noexcept;

// The CRC-32 of bytes that follow others whose CRC-32 was `previous` (0 before any): a file fed
// in pieces gets the CRC-32 of the whole.
std::uint32_t crc32_continue(std::uint32_t previous, byte_span data) noexcept;

} // namespace qm
