#pragma once
// Shared by the libFuzzer targets, the corpus replay and the seed writer: the targets themselves
// (each executable calls one of them from entry.cpp), cutting one input into parts, a failed
// property that the fuzzer reports as a crash, and the small game that the archive target patches.

#include "common/bytes.h"

#include <string>
#include <vector>

namespace qm::fuzz {

// One target: takes any input; a broken property or an unchecked access aborts.
using target = void(byte_span input);
target rom_open, fnt_lookup, utf_parse, cpk_visit, font_1bpp, script_font, load_archive;
target blz_decomp, blz_roundtrip, cpk_decompress, cpk_roundtrip, vcdiff_decode, vcdiff_roundtrip;

// Reads the input front to back; running short yields zeros and empty spans, never an error,
// so that every input means something.
struct input_reader {
    explicit input_reader(byte_span input) : rest(input) {}
    std::uint8_t u8() { return rest.empty() ? 0 : take(1)[0]; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16() | (std::uint32_t{u16()} << 16)); }
    // Up to n bytes.
    byte_span take(std::size_t n)
    {
        const byte_span part = rest.first(std::min(n, rest.size()));
        rest = rest.subspan(part.size());
        return part;
    }
    byte_span part() { return take(u16()); } // announced by a 16-bit length
    byte_span all() { return take(rest.size()); }
    byte_span rest;
};

// A broken property: the fuzzer sees the abort as a crash and keeps the input.
void expect(bool holds, const std::string& what);

// Runs f and tells whether it completed. A refusal with a message (std::runtime_error) is a fine
// outcome for bad input; a bounds_error is not: it means a check before some access was missing,
// and is reported as a crash.
template <class F> bool attempt(F&& f)
{
    try {
        f();
        return true;
    } catch (const bounds_error& e) {
        expect(false, std::string("unchecked access: ") + e.what());
    } catch (const std::runtime_error&) {
    }
    return false;
}

// Path lookups walk the whole FNT each time; a target looks up this many files at most, so that
// one input cannot take quadratic time.
constexpr std::size_t max_lookups = 64;

// The first n bytes of s repeated.
bytes repeated(const std::string& s, std::size_t n);

// The small game ROM that the archive target patches, and the facts about it that seed archives
// need. Built the same way every time.
struct fixed_game {
    bytes rom;                    // the image
    bytes arm9;                   // with its footer, as the writer offers it
    bytes overlay;                // ARM9 overlay 0, expanded (stored compressed)
    bytes readme;                 // "/readme.txt"
    bytes cpk;                    // "/dir/data.cpk"
    std::vector<bytes> cpk_files; // its entries by id - 1
};
const fixed_game& the_fixed_game();

// The first byte of an archive target's input: bit 0 set means that the rest (after the cancel
// step byte) is an unpacked archive, packed by the target and then applied to the fixed game.
constexpr std::uint8_t archive_mode_apply = 1;
// The cancel step byte: the job is cancelled when it reports this position; this value never.
constexpr std::uint8_t no_cancel = 0xFF;

} // namespace qm::fuzz
