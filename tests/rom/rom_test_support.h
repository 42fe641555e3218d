#pragma once
// Shared pieces of the ROM tests: a scratch folder, a visitor that records what it is given, a
// fixed sample ROM and helpers that edit built images into malformed ones.

#include "common/bytes.h"
#include "rom/nds_rom.h"
#include "rom/rom_visitor.h"
#include "tools/rom_image_builder.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qm::test {

// A fresh folder, removed with everything in it at the end of the test.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path write(const std::string& name, byte_span data) const;
    std::vector<std::string> names() const; // sorted

private:
    std::filesystem::path path_;
};

// Returns each section unchanged, or what `transform` makes of it; records the calls in order.
class recording_visitor : public rom_visitor {
public:
    std::function<bytes(const bytes&, std::uint32_t)> transform;
    std::vector<std::uint32_t> entered;
    std::vector<std::uint32_t> visited;
    std::vector<bytes> given;

    bytes visit(const bytes& contents, std::uint32_t code) override;
    void enter_section(std::uint32_t code) override;
};

// Rebuilds `source` into `destination`, commits it and returns its bytes.
bytes rebuild(const std::filesystem::path& source, const std::filesystem::path& destination,
              rom_visitor& visitor);

// A small ROM: header size 0x4000, ARM9 of 1000 bytes with a footer, ARM9 overlays 0 (packed)
// and 1 (plain, 100 bytes), ARM7 overlay 0 (packed), a banner, and files (ids after the three
// overlay files): readme.txt 3, zero 4 (empty), data/empty.bin 5, data/town.bin 6,
// data/deep/leaf.bin 7; directories data 0xF001, data/deep 0xF002, empty_dir 0xF003.
rom_description sample_description();

// Built byte by byte with literal offsets, independently of the builder: header size 0x200,
// ARM9 at 0x200 and ARM7 at 0x300 (0x10 bytes each), FNT at 0x400 naming one file "a", FAT at
// 0x500, the file "abcd" at 0x600; 0x1000 bytes filled with 0xEE, no banner or overlays.
bytes hand_made_rom();

// Appends `table` (4-byte aligned) and points the header's offset and size fields at it.
void replace_table(bytes& image, std::size_t offset_field, std::size_t size_field, byte_span table);
bytes fnt_of(byte_span image);
// FAT entry `id` of an image as (start, end), and the bytes it spans.
std::pair<std::uint32_t, std::uint32_t> fat_entry(byte_span image, std::uint32_t id);
bytes file_bytes(byte_span image, std::uint32_t id);

// Replaces the first occurrence of `from` in [offset, offset + length) by `to`.
void patch_bytes(bytes& image, std::size_t offset, std::size_t length, const bytes& from, const bytes& to);

} // namespace qm::test
