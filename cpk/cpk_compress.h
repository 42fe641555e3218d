#pragma once
// Compression of a CPK archive entry into the archive's backward LZ form (see cpk_decompress.h):
// greedy longest-match parsing over an 8194-byte window, with a 15-bit hash of three bytes.

#include "common/bytes.h"

#include <cstdint>
#include <optional>

namespace qm {

// Files shorter than this are never compressed by the archive builder.
constexpr std::uint32_t cpk_min_compress_size = 384;

// The compressed form of `data` (its length a multiple of 4 and below the data's), or nullopt when
// the file is to be stored as it is (it does not shrink, or it is shorter than 384 bytes).
std::optional<bytes> cpk_compress(byte_span data);

} // namespace qm
