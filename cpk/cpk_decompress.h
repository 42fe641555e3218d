#pragma once
// Expansion of a CPK archive entry stored in the archive's backward LZ form.
//
// A compressed form of T bytes for a file of N bytes ends with the file's first 256 bytes as they
// are; before them, read from the end towards the start and most significant bit first, a bit
// stream rebuilds the file from its last byte down to byte 256. The form carries no sizes: the
// archive's table of contents gives both.

#include "common/bytes.h"

#include <cstdint>

namespace qm {

// Bytes kept verbatim at the end of every compressed form.
constexpr std::uint32_t cpk_verbatim_prefix = 256;

// Expands the T bytes of src into the N bytes of dst (decoding works inside dst). Needs
// N > 256 and N >= T >= 256; throws std::runtime_error on any stream that would write onto unread
// input ("Decompression error: overlap spotted") or reach outside the buffers.
void cpk_decompress(byte_span src, mutable_byte_span dst);

// The largest expanded size a compressed form of src_size bytes can describe: a stream byte yields
// fewer than 256 output bytes. Callers check a claimed size against it before allocating.
std::uint64_t cpk_max_extract_size(std::uint32_t src_size);

} // namespace qm
