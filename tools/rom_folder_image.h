#pragma once
// A ROM folder seen as a ROM image, so that packing it is the very rebuild that every ROM goes
// through. The image is laid out from the manifest without being assembled: each range maps to
// bytes in memory (the header's first fields, the FAT, overlays in their packed form) or to a file
// of the folder, read when asked for.
//
// Layout: the header section (header.bin, its offset and size fields pointing at the places
// below, every other byte as stored), then every section in the manifest's order, each at least
// one byte after the end of the one before, so that the rebuild, which orders sections by offset,
// finds them in the manifest's order; then the DSi area (dsi.bin) behind everything, its region
// fields moved with it. The gaps read as zeros, so nothing puts the ARM9 footer's magic word
// behind an ARM9 binary that has no footer. Overlays that share a FAT file share one place.

#include "common/bytes.h"
#include "rom/rom_source.h"
#include "tools/rom_folder_manifest.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qm {

class rom_folder_image final : public rom_source {
public:
    // Lays out `dir`, whose manifest `manifest` has been read and checked against it with
    // load_rom_folder. Packs the overlays stored packed, and refuses overlays that share a FAT
    // file but not their bytes, or an image of 4 GiB or more, naming the file.
    rom_folder_image(std::filesystem::path dir, const rom_folder_manifest& manifest);

    std::uint64_t size() const noexcept override { return image_size; }
    // A file of the folder whose size has changed since the layout fails here, naming it.
    void read_at(std::uint64_t offset, mutable_byte_span into) override;

    // Where the manifest's section `index` starts in the image.
    std::uint64_t place_of(std::size_t index) const { return pieces.at(section_pieces.at(index)).at; }
    // Where the DSi area starts; 0 when the folder carries none.
    std::uint64_t dsi_place() const noexcept { return dsi_at; }

private:
    // A range of the image: bytes in memory, or `length` bytes of a file from `from`.
    struct piece {
        std::uint64_t at = 0;
        std::uint64_t length = 0;
        bytes data;
        std::string path;
        std::uint64_t from = 0;
    };

    std::size_t add_piece(piece p);
    void read_piece(const piece& p, std::uint64_t offset, mutable_byte_span into);

    std::filesystem::path dir;
    std::vector<piece> pieces;               // by place, none overlapping
    std::vector<std::size_t> section_pieces; // per section of the manifest
    std::uint64_t image_size = 0;
    std::uint64_t dsi_at = 0;
    std::string open_path; // the file that `open_file` reads
    std::ifstream open_file;
};

} // namespace qm
