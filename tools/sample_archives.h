#pragma once
// The eight CPK archives of the sample game, entry by entry, in the original and in the French
// translation.
//
// What the translation changes, over all eight archives: 551 script entries that keep the scene
// chunk in front of their script, 12 script entries without one, 126 data tables changed in place,
// 5 entries replaced whole, 2 placeholders (empty entries) filled, the same 2-bit font present
// twice redrawn at 1 bit per pixel, and one entry appended. Everything else is left as it is; the
// unchanged data entries carry the bulk that the sample's size asks for.
//
// Script entries: a scene chunk ("SCN\0", payload length, 0, K = distance to the next chunk, then
// the scene's commands padded to 16 bytes), then the DCM, TFN and DNE chunks that
// assemble_script_entry writes around the script container and its font. Entries without a scene
// chunk start with DCM.

#include "common/bytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm {

struct sample_entry {
    bytes original;
    std::optional<bytes> translated; // none: the translation keeps the entry
    bool bulk = false;               // unchanged data whose size follows the sample's size
};

struct sample_archive {
    std::string path;                  // in the ROM's file system, without the leading "/"
    std::vector<sample_entry> entries; // ids 1, 2, 3, ... in this order
    std::vector<bytes> appended;       // entries that only the translation has
};

// The archives from the seed, with their bulk entries still empty. Everything made here depends
// on the seed alone.
std::vector<sample_archive> make_sample_archives(std::uint64_t seed);

// Fills the bulk entries with about `bulk_bytes` in all.
void fill_bulk_entries(std::vector<sample_archive>& archives, std::uint64_t seed, std::uint64_t bulk_bytes);

// Number of entries of the eight archives in the original (without the appended one).
std::uint32_t sample_archive_entry_count();

// The archive files, built the way the patcher rebuilds an archive (ids from 1, in entry order).
bytes build_original_archive(const sample_archive& archive);
bytes build_translated_archive(const sample_archive& archive);

} // namespace qm
