#pragma once
// Where a ROM image is read from: a file, or bytes in memory (the fuzz targets, the tests, images
// the toolkit puts together). Every read names its offset, so a source has no position to keep.

#include "common/bytes.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>

namespace qm {

class rom_source {
public:
    virtual ~rom_source() = default;
    virtual std::uint64_t size() const noexcept = 0;
    // Fills `into` with the bytes at `offset`. A range past the end fails: a file source raises
    // the standard stream failure (the file may have shrunk since it was opened), any other a
    // std::runtime_error.
    virtual void read_at(std::uint64_t offset, mutable_byte_span into) = 0;
};

// Reads `size` bytes of `source` from `from` a block at a time into `block` (1 MiB at most, the
// block's size set to what it holds) and hands each block to `take`, which may swap the buffer
// for another: ranges copied without holding them whole.
void read_in_blocks(rom_source& source, std::uint64_t from, std::uint64_t size, bytes& block,
                    const std::function<void(bytes&)>& take);

class file_source final : public rom_source {
public:
    // Throws "nds_rom::nds_rom - can't open input file" when the path names no readable file.
    explicit file_source(const std::filesystem::path& path);

    std::uint64_t size() const noexcept override { return length; }
    void read_at(std::uint64_t offset, mutable_byte_span into) override;

private:
    std::ifstream in;
    std::uint64_t length = 0;
};

class memory_source final : public rom_source {
public:
    // Reads from `data`, which must outlive the source.
    explicit memory_source(byte_span data) noexcept : view(data) {}
    // Reads from its own copy.
    explicit memory_source(bytes data) noexcept : owned(std::move(data)), view(owned) {}

    std::uint64_t size() const noexcept override { return view.size(); }
    void read_at(std::uint64_t offset, mutable_byte_span into) override;

private:
    bytes owned;
    byte_span view;
};

} // namespace qm
