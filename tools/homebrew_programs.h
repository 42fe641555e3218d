#pragma once
// The two tiny DS programs that the sample game runs, so that an emulator can tell the original
// from the translation by the colour of the top screen.

#include "common/bytes.h"

#include <cstdint>

namespace qm {

// Where the programs expect to be loaded (and start).
inline constexpr std::uint32_t homebrew_arm9_address = 0x02000000;
inline constexpr std::uint32_t homebrew_arm7_address = 0x037F8000;

// ARM9 program (108 bytes): turns both 2D engines on, paints the top screen's backdrop red, then
// loops painting the bottom screen's backdrop green while the ARM7's marker is in main RAM, magenta
// otherwise.
byte_span homebrew_arm9_red() noexcept;
// The same program painting the top screen blue; it differs from the red one in one byte (the
// rotation of an immediate operand: 0x001F becomes 0x7C00).
byte_span homebrew_arm9_blue() noexcept;
// ARM7 program (20 bytes): stores the marker 0x37C0DE07 at 0x02200000, then spins.
byte_span homebrew_arm7() noexcept;

} // namespace qm
