#pragma once
// Hand-made VCDIFF deltas for the decoder tests: windows are written field by field, so
// that every field can also be made wrong on purpose.

#include "common/bytes.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qm::test {

inline void put_varint(bytes& out, std::uint64_t v)
{
    bytes groups{static_cast<std::uint8_t>(v & 0x7F)};
    while (v >>= 7)
        groups.insert(groups.begin(), static_cast<std::uint8_t>(0x80 | (v & 0x7F)));
    append_bytes(out, groups);
}

inline bytes text(std::string_view s)
{
    return bytes(s.begin(), s.end());
}

// Opcodes of the default code table, from the table's layout.
namespace op {
inline constexpr std::uint8_t run0 = 0;
inline constexpr auto add = [](unsigned size) { return static_cast<std::uint8_t>(1 + size); }; // size 0..17
// size 0 or 4..18
inline constexpr auto copy = [](unsigned mode, unsigned size) {
    return static_cast<std::uint8_t>(19 + 16 * mode + (size == 0 ? 0 : size - 3));
};
inline constexpr auto add_copy = [](unsigned add_size, unsigned copy_size, unsigned mode) {
    return static_cast<std::uint8_t>(mode < 6 ? 163 + 12 * mode + 3 * (add_size - 1) + (copy_size - 4)
                                              : 235 + 4 * (mode - 6) + (add_size - 1));
};
inline constexpr auto copy4_add1 = [](unsigned mode) { return static_cast<std::uint8_t>(247 + mode); };
} // namespace op

// The plan of one window to build.
struct window_plan {
    std::uint8_t indicator = 0;
    std::uint64_t segment_length = 0;
    std::uint64_t segment_position = 0;
    std::uint64_t target_length = 0;
    std::uint8_t delta_indicator = 0;
    bytes data{};
    bytes instructions{};
    bytes addresses{};
    std::optional<std::uint32_t> checksum{}; // written after the address length
    // Added to the correct delta encoding length, to make it wrong.
    std::int64_t encoding_length_error = 0;
};

inline bytes file_header(std::uint8_t version = 0x00, std::uint8_t indicator = 0x00)
{
    return {0xD6, 0xC3, 0xC4, version, indicator};
}

inline void append_window(bytes& out, const window_plan& w)
{
    bytes enc;
    put_varint(enc, w.target_length);
    enc.push_back(w.delta_indicator);
    for (const bytes* section : {&w.data, &w.instructions, &w.addresses})
        put_varint(enc, section->size());
    if (w.checksum)
        put_varint(enc, *w.checksum);
    for (const bytes* section : {&w.data, &w.instructions, &w.addresses})
        append_bytes(enc, *section);
    out.push_back(w.indicator);
    if (w.indicator & 0x03) {
        put_varint(out, w.segment_length);
        put_varint(out, w.segment_position);
    }
    put_varint(out,
               static_cast<std::uint64_t>(static_cast<std::int64_t>(enc.size()) + w.encoding_length_error));
    append_bytes(out, enc);
}

inline bytes make_delta(const std::vector<window_plan>& windows, std::uint8_t version = 0x00)
{
    bytes out = file_header(version);
    for (const window_plan& w : windows)
        append_window(out, w);
    return out;
}

} // namespace qm::test
