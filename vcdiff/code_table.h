#pragma once
// The instruction code table: each opcode byte stands for one or two instructions with
// their sizes and address modes. Only the RFC's default table exists here; deltas that bring
// their own table are refused by the decoder.

#include <array>
#include <cstdint>

namespace qm::vcdiff {

enum class inst_type : std::uint8_t { noop = 0, add = 1, run = 2, copy = 3 };

struct half_instruction {
    inst_type type = inst_type::noop;
    std::uint8_t size = 0; // 0: the size follows as an integer in the instruction section
    std::uint8_t mode = 0; // address mode, COPY only
};

struct code_table_entry {
    half_instruction first;
    half_instruction second;
};

using code_table = std::array<code_table_entry, 256>;

// Address modes of the default cache layout: SELF, HERE, four NEAR slots, three SAME blocks.
inline constexpr unsigned mode_self = 0;
inline constexpr unsigned mode_here = 1;
inline constexpr unsigned first_near_mode = 2;
inline constexpr unsigned near_cache_size = 4;
inline constexpr unsigned first_same_mode = first_near_mode + near_cache_size;
inline constexpr unsigned same_cache_size = 3;
inline constexpr unsigned mode_count = first_same_mode + same_cache_size;

const code_table& default_code_table();

} // namespace qm::vcdiff
