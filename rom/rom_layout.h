#pragma once
// Arithmetic of the rebuilt ROM's layout: where a section goes, how far the ROM may grow, and
// the power-of-two size and capacity code of the finished image.

#include <cstdint>

namespace qm {

// The finished image is padded to a power of two, so its sections must end at or below 2 GiB:
// one byte more and it would be 4 GiB long, past what the format's 32-bit offsets and sizes
// describe.
constexpr std::uint64_t max_rebuilt_rom_end = 0x80000000;

// The next section's place: `end` rounded up to the section alignment.
std::uint64_t section_start(std::uint64_t end) noexcept;

// The end of a section of `length` bytes placed at `start`; throws std::runtime_error when the
// rebuilt ROM would grow past max_rebuilt_rom_end. Computed in 64 bits, so it cannot wrap.
std::uint64_t section_end(std::uint64_t start, std::uint64_t length);

// The smallest n with 2^n >= end (0 when end <= 1): the image is padded to 2^n bytes.
unsigned image_size_exponent(std::uint64_t end) noexcept;

// The header's capacity code for an image of 2^n bytes (chips start at 128 KiB).
std::uint8_t capacity_code(unsigned exponent) noexcept;

// Word 0x1C of an overlay entry after its file was packed again into `stored_length` bytes: the
// length in bits 0-23, the flag byte kept. Throws std::runtime_error when the length does not
// fit in 24 bits instead of letting it wrap.
std::uint32_t overlay_stored_word(std::uint32_t old_word, std::uint64_t stored_length);

} // namespace qm
