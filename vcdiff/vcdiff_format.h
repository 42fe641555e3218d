#pragma once
// Constants of the VCDIFF delta format (RFC 3284) and the limits this decoder enforces.

#include <cstddef>
#include <cstdint>

namespace qm::vcdiff {

// Header1..Header3: 'V', 'C', 'D' with the high bit set.
inline constexpr std::uint8_t magic[3] = {0xD6, 0xC3, 0xC4};
inline constexpr std::size_t file_header_size = 5; // magic, version, Hdr_Indicator

// Header4, the version byte. 0x00 is the RFC's plain layout; 'S' is the interleaved
// variant in which one section may carry instructions, sizes, data and addresses in
// stream order, and windows may carry an Adler-32 of their target.
inline constexpr std::uint8_t version_plain = 0x00;
inline constexpr std::uint8_t version_interleaved = 'S';

// Hdr_Indicator bits.
inline constexpr std::uint8_t hdr_decompress = 0x01; // secondary compressor id follows
inline constexpr std::uint8_t hdr_codetable = 0x02;  // custom code table follows

// Win_Indicator bits.
inline constexpr std::uint8_t win_source = 0x01;   // source segment taken from the source
inline constexpr std::uint8_t win_target = 0x02;   // source segment taken from earlier output
inline constexpr std::uint8_t win_checksum = 0x04; // Adler-32 present (interleaved variant only)

// Delta_Indicator bits: sections compressed by a secondary compressor.
inline constexpr std::uint8_t delta_compressed_sections = 0x07;

// Integers in a delta are non-negative 31-bit values; the window checksum is 32-bit.
inline constexpr std::uint64_t max_int = 0x7FFFFFFF;
inline constexpr std::uint64_t max_checksum = 0xFFFFFFFF;

// Neither one window nor the whole decoded target may exceed 64 MiB.
inline constexpr std::uint64_t max_target_size = 64ull << 20;

} // namespace qm::vcdiff
