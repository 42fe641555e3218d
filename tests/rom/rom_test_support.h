#pragma once
// Shared pieces of the ROM tests: a scratch folder, visitors that record what they are given,
// a fixed sample ROM and helpers that edit built images into malformed ones.

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

// Returns each section's contents unchanged, or what `transform` makes of them; records the
// calls in order.
class recording_visitor : public rom_visitor {
public:
    std::function<bytes(const bytes&, std::uint32_t)> transform;
    std::vector<std::uint32_t> entered;
    std::vector<std::uint32_t> visited;
    std::vector<bytes> given;

    bytes visit(const bytes& contents, std::uint32_t code) override;
    void enter_section(std::uint32_t code) override;
};

// Rebuilds `source` into `destination` and commits it.
void rebuild(const std::filesystem::path& source, const std::filesystem::path& destination, rom_visitor& visitor);

// A small ROM with nested directories, empty files, an ARM9 footer, plain and compressed
// overlays on both processors and a banner.
rom_description sample_description();

// A ROM put together byte by byte with literal offsets, independently of the builder:
// header size 0x200, ARM9 at 0x200 and ARM7 at 0x300 (0x10 bytes each), FNT at 0x400 naming one
// file "a", FAT at 0x500, the file "abcd" at 0x600; 0x1000 bytes in all, no banner or overlays.
bytes hand_made_rom();

// Header and table fields of an image.
std::uint32_t field(byte_span image, std::size_t offset);
void set_field(bytes& image, std::size_t offset, std::uint32_t value);

// Appends `table` at the end of the image (4-byte aligned) and points the header's offset and
// size fields at it.
void replace_table(bytes& image, std::size_t offset_field, std::size_t size_field, byte_span table);

// A copy of the image's FNT.
bytes fnt_of(byte_span image);

// Replaces the first occurrence of `from` in [offset, offset + length) of the image by `to`
// (same length); fails the test when it is not there.
void patch_bytes(bytes& image, std::size_t offset, std::size_t length, const bytes& from, const bytes& to);

} // namespace qm::test
