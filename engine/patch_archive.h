#pragma once
// The patch archive: its packed form (LZMA), the blob list, and the index in blob 0 that keys
// each patch record by a section code.
//
// Packed form:   u32 unpacked size U | 5 bytes LZMA properties | raw LZMA stream
// Unpacked:      u32 blob count B | B x u32 blob sizes | the blobs, back to back
// Index (blob 0): u32 record count R | u32 string pool offset P | u32 total steps |
//                R x u32 record offsets (in words, from the record area) | record area (P bytes) |
//                string pool: one NUL-terminated "/path" per record of kind 6, in record order
// Record:        u32 key (section code; high half 0 for files) | u32 patch type | body words

#include "common/bytes.h"

#include <optional>
#include <string>
#include <vector>

namespace qm {

// Packed form -> unpacked archive. Throws "Decompression of main archive failed" when the LZMA
// stream does not decode into the size the form claims.
bytes unpack_archive(byte_span packed);
bytes pack_archive(byte_span unpacked);

// Unpacked archive <-> blobs, with every size checked against the bytes present.
std::vector<bytes> split_archive(byte_span unpacked);
bytes join_archive(const std::vector<bytes>& blobs);

struct archive_record {
    std::uint32_t stored_key = 0;
    std::optional<std::string> path; // the string pool's path, for records of kind 6
    // From the record's patch type (word 1) up to where the next record or the string pool
    // begins: a record has no length of its own, this is the most it may use.
    byte_span body;
};

struct archive_index {
    std::uint32_t total_steps = 0;
    std::vector<archive_record> records; // in record order
};

// Parses blob 0; the spans point into `index_blob`. Throws "load_archive failed - ..." on any
// offset, count or string that does not fit.
archive_index parse_archive_index(byte_span index_blob);

// Builds an archive for authoring and tests.
class archive_builder {
public:
    // Returns the new blob's number (blob 0 is the index).
    std::uint32_t add_blob(bytes blob);
    // A record for a non-file section (key = section code) or, with a path, for a file.
    void add_record(std::uint32_t key, std::vector<std::uint32_t> body);
    void add_file_record(std::string path, std::vector<std::uint32_t> body);
    void set_total_steps(std::uint32_t steps) noexcept { total_steps = steps; }

    std::size_t blob_count() const noexcept { return blobs.size() + 1; }
    std::size_t record_count() const noexcept { return records.size(); }

    bytes index() const;
    bytes build() const; // unpacked archive

private:
    struct record {
        std::uint32_t key;
        std::optional<std::string> path;
        std::vector<std::uint32_t> body;
    };
    std::vector<bytes> blobs;
    std::vector<record> records;
    std::uint32_t total_steps = 0;
};

} // namespace qm
