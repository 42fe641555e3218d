#pragma once
// The sample game: a small DS ROM with the shape of the real release (title "QLMOR", game code
// "YQLE") and its French translation, both made from a seed. The translation is written by the
// ROM writer from the original with a visitor that hands it the translated sections, following
// the same layout rules as the patcher, so patching the original gives it byte for byte.
//
// What runs: the ARM9 and ARM7 are tiny programs that paint the top screen (red in the original,
// blue in the translation) and the bottom screen (green once the ARM7 has run).
//
// What the translation changes: the ARM9 (top screen colour and its menu strings), ARM9 overlays
// 3, 7 (stored plain) and 10 (stored packed; it grows), the banner's French title, the file
// data/staff.bin, and the eight CPK archives (see sample_archives.h). Nothing that it changes
// depends on the size: one patch fits the sample of every size made from the same seed.

#include <cstdint>
#include <filesystem>

namespace qm {

inline constexpr const char* sample_original_name = "quillmoor.nds";
inline constexpr const char* sample_translation_name = "quillmoor-fr.nds";
inline constexpr std::uint32_t sample_default_size_mib = 8;
inline constexpr std::uint64_t sample_default_seed = 1;

struct sample_options {
    // About how large the original's used area is; the bulk data grows or shrinks to match, but
    // never below the fixed part (a little over 2 MiB).
    std::uint32_t size_mib = sample_default_size_mib;
    std::uint64_t seed = sample_default_seed;
};

struct sample_summary {
    std::uint64_t original_bytes = 0;
    std::uint64_t translated_bytes = 0;
    std::uint32_t files = 0; // in the file system, archives included
    std::uint32_t directories = 0;
    std::uint32_t overlays = 0;
    std::uint32_t archives = 0;
    std::uint32_t archive_entries = 0; // in the original's archives
};

// Writes DIR/quillmoor.nds and DIR/quillmoor-fr.nds (the folder is created when missing).
sample_summary make_sample(const std::filesystem::path& dir, const sample_options& options);

} // namespace qm
