#pragma once
// Shared pieces of the ROM tests: a scratch folder, a visitor that records what it is given, a
// fixed sample ROM, and helpers that read built images or edit them into malformed ones.

#include "common/bytes.h"
#include "rom/nds_rom.h"
#include "rom/rom_visitor.h"
#include "tools/rom_image_builder.h"

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qm::test {

// A fresh folder, removed with everything in it at the end of the test.
struct scratch_dir {
    scratch_dir();
    ~scratch_dir()
    {
        std::error_code e;
        std::filesystem::remove_all(path, e);
    }
    std::filesystem::path write(const std::string& name, byte_span data) const;
    std::vector<std::string> names() const; // sorted

    const std::filesystem::path path;
};

// Returns each section unchanged, or what `transform` makes of it; records the calls in order
// and what it returned for each section.
class recording_visitor : public rom_visitor {
public:
    std::function<bytes(const bytes&, std::uint32_t)> transform;
    std::vector<std::uint32_t> entered;
    std::vector<std::uint32_t> visited;
    std::map<std::uint32_t, bytes> returned;

    bytes visit(const bytes& contents, std::uint32_t code) override;
    void enter_section(std::uint32_t code) override { entered.push_back(code); }
};

// A recording visitor that returns `change(contents)` for section `code` and the rest unchanged.
recording_visitor changing(std::uint32_t code, std::function<bytes(const bytes&)> change);

// Rebuilds `source` into `destination`, commits it and returns its bytes.
bytes rebuild(const std::filesystem::path& source, const std::filesystem::path& destination,
              rom_visitor& visitor);

// Header size 0x4000, ARM9 of 1000 bytes with a footer, ARM9 overlays 0 (packed) and 1 (plain,
// 100 bytes), ARM7 overlay 0 (packed), a banner; files readme.txt 3, zero 4 (empty),
// data/empty.bin 5, data/town.bin 6, data/deep/leaf.bin 7; directories data 0xF001, data/deep
// 0xF002, empty_dir 0xF003.
rom_description sample_description();

// Built byte by byte, independently of the builder: header size 0x200, ARM9 at 0x200 and ARM7 at
// 0x300 (0x10 bytes each), FNT at 0x400 naming one file "a", FAT at 0x500, the file "abcd" at
// 0x600; 0x1000 bytes filled with 0xEE, no banner or overlays.
bytes hand_made_rom();

// An FNT written entry by entry: per directory its first file id and its entries as (name,
// directory index, or -1 for a file).
struct fnt_dir {
    std::uint16_t first_file = 0;
    std::vector<std::pair<std::string, int>> entries;
};
bytes write_fnt(const std::vector<fnt_dir>& dirs);
// `image` with `fnt` appended (4-byte aligned) as its FNT.
bytes with_fnt(bytes image, byte_span fnt);

// The bytes that FAT entry `id` of an image spans.
bytes file_bytes(byte_span image, std::uint32_t id);

} // namespace qm::test
