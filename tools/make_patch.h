#pragma once
// Patch authoring: the packed patch archive that turns one ROM (the original release) into
// another (its translation), checked by patching the original and comparing with the translation.
//
// Sections are compared one by one (overlays expanded). A changed CPK archive becomes a CPK entry
// list: per changed entry the smallest form that rebuilds it exactly (a script keeping the
// entry's prefix, a script without prefix, the 1-bit redraw of the old font, then the smaller of a
// delta and the whole contents; an entry empty in the original that the translation fills is
// stored whole as type 5), and one append item per extra entry. Every other changed section is a
// VCDIFF delta with the CRC-32 of its original contents. An archive whose translation is not what
// rebuilding it entry by entry gives (another packer, entries removed) is patched as a whole file.

#include "common/bytes.h"
#include "engine/identity_card.h"
#include "tools/glyph_check.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qm {

struct patch_report {
    std::uint32_t records = 0;
    std::uint32_t delta_records = 0; // type 0
    std::uint32_t entry_lists = 0;   // type 1
    std::array<std::uint32_t, 6> entries_by_type{};
    std::uint32_t append_items = 0;
    std::uint32_t blobs = 0; // the index included
    std::uint64_t unpacked_bytes = 0;
    std::uint64_t packed_bytes = 0;
    std::uint32_t total_steps = 0;
    std::uint64_t translated_bytes = 0;
    std::vector<std::string> changes; // one line per record, in record order
};

// A character of a translated script that the built-in font lacks: the script's generated font
// will have no glyph for it.
struct script_glyph_gap {
    std::string archive; // the CPK archive's path in the ROM, as the progress shows it
    std::uint32_t entry = 0;
    missing_glyph glyph;
};

struct authored_patch {
    bytes packed;
    patch_report report;
    identity_card card; // the two ROMs and the sections the patch changes, before and after
    std::vector<script_glyph_gap> missing_glyphs; // in the order of the ROM, then of the entries
};

// Throws std::runtime_error when the two ROMs cannot be related by a patch (different file
// systems or section lists) and when patching the original does not give the translation.
authored_patch make_patch(const std::filesystem::path& original, const std::filesystem::path& translated);

// The report as a few lines of text.
std::string format_patch_report(const patch_report& report);

} // namespace qm
