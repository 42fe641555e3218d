#pragma once
// Building a new CPK archive from files given in ID order (IDs 1, 2, 3, ...). Each file of 384
// bytes or more is stored compressed when that makes it smaller.

#include "common/bytes.h"
#include "cpk/utf_table.h"

#include <cstdint>
#include <vector>

namespace qm {

// Where written archives put their first file; the header chunk lies below it.
constexpr std::uint32_t cpk_content_offset = 0x800;
// IDs are 16-bit and start at 1.
constexpr std::uint32_t cpk_max_files = 0xFFFF;

class cpk_builder {
public:
    cpk_builder();

    // Copies the file (or its compressed form) and gives it the next ID. Throws once the archive
    // already holds 65,535 files.
    void add_file(const std::uint8_t* data, std::uint32_t size);
    void add_file(byte_span data);

    // The whole archive: header chunk, the files from 0x800 at 512-byte steps, the ITOC chunk last.
    bytes write() const;
    void write(bytes& out) const { out = write(); }

    std::uint32_t file_count() const noexcept { return static_cast<std::uint32_t>(blobs.size()); }

private:
    std::vector<bytes> blobs;
    utf_table low;  // CpkItocL: files whose expanded size fits 16 bits
    utf_table high; // CpkItocH: larger files
    std::uint16_t next_id = 1;
    std::uint64_t content_size = 0; // blob lengths, each rounded up to 512
    std::uint32_t total_extract_size = 0;
    std::uint32_t total_stored_size = 0;
};

} // namespace qm
