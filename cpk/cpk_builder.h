#pragma once
// Building a new CPK archive from files given in ID order (IDs 1, 2, 3, ...). Each file of 384
// bytes or more is stored compressed when that makes it smaller.

#include "common/bytes.h"
#include "cpk/utf_table.h"

#include <cstddef>
#include <cstdint>

namespace qm {

// Where written archives put their first file; the header chunk lies below it.
constexpr std::uint32_t cpk_content_offset = 0x800;
// IDs are 16-bit and start at 1.
constexpr std::uint32_t cpk_max_files = 0xFFFF;

// A file as the archive will store it: its compressed form, or its bytes as they are.
struct cpk_stored_file {
    std::uint32_t size = 0; // expanded
    bytes blob;
};

// The stored form of a file: compressed when it is 384 bytes or more and that makes it smaller.
// Depends on nothing but the bytes, so files may be prepared on any thread, in any order.
cpk_stored_file cpk_store(byte_span data);
cpk_stored_file cpk_store(bytes&& data); // keeps the buffer as the blob when storing it as it is

class cpk_builder {
public:
    cpk_builder();

    // Copies the file (or its compressed form) and gives it the next ID. Throws once the archive
    // already holds 65,535 files.
    void add_file(byte_span data);
    // The same for a file already prepared by cpk_store.
    void add_stored(cpk_stored_file file);
    // Throws as add_file would when `more` further files would not fit.
    void check_room(std::uint64_t more = 1) const;
    // Makes room for an archive of about `size` bytes at once (the files are laid out as they come).
    void reserve(std::size_t size) { image.reserve(size); }

    // The whole archive: header chunk, the files from 0x800 at 512-byte steps, the ITOC chunk last.
    bytes write() const;
    void write(bytes& out) const { out = write(); }
    // The same archive without copying it: the builder is left empty and must not be used again.
    bytes take_archive();

    std::uint32_t file_count() const noexcept { return next_id - 1u; }

private:
    // Adds the ITOC chunk and the header chunk to the laid-out files.
    void finish(bytes& out) const;

    // The archive as far as it is laid out: the header's area (zero until the end), then each
    // file's stored form padded with zeros to the next 512-byte boundary.
    bytes image;
    utf_table low;  // CpkItocL: files whose expanded size fits 16 bits
    utf_table high; // CpkItocH: larger files
    std::uint32_t next_id = 1;
    std::uint32_t total_extract_size = 0;
    std::uint32_t total_stored_size = 0;
};

} // namespace qm
