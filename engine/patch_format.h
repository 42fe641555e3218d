#pragma once
// The words of a patch record, as the patcher reads them and patch authoring writes them.
//
// A record's body starts with its patch type. Type 0: the CRC-32 of the unpatched section, then
// the blob number of a VCDIFF delta. Type 1: an entry list for a CPK archive: per patched entry,
// in ascending id order, its id, the CRC-32 of its unpatched contents, its entry type and (but for
// type 4) a blob number; then append items, each the marker and a blob number. The list has no
// count: it ends where its record's room in the index ends.

#include <cstddef>
#include <cstdint>

namespace qm::patch_format {

enum patch_type : std::uint32_t {
    delta_record = 0,      // the whole section through a VCDIFF delta
    entry_list_record = 1, // a CPK archive, entry by entry
};

enum entry_type : std::uint32_t {
    script_with_prefix = 0,    // a script container; the new entry keeps the old one's prefix
    script_without_prefix = 1, // a script container; the new entry is the script alone
    whole = 2,                 // the new contents
    delta = 3,                 // a VCDIFF delta from the old contents
    font_1bpp = 4,             // no blob: the old contents, a font, redrawn at one bit per pixel
    filled = 5,                // the new contents, as type 2 (authoring uses it for an entry that was empty)
};
constexpr std::uint32_t last_entry_type = filled;

constexpr bool entry_type_takes_blob(std::uint32_t type) noexcept
{
    return type != font_1bpp;
}

// Starts an append item of an entry list.
constexpr std::uint32_t append_marker = 0xFFFFFFFFu;

// A script entry that keeps a prefix: the prefix's length is the word at this offset of the old
// entry.
constexpr std::size_t script_prefix_length_field = 12;

} // namespace qm::patch_format
