#pragma once
// Adler-32 (RFC 1950), the optional per-window checksum of the interleaved delta variant.

#include "common/bytes.h"

#include <cstdint>

namespace qm::vcdiff {

std::uint32_t adler32(byte_span data);

} // namespace qm::vcdiff
