#pragma once
// The rebuilt ROM as a file. It is written under a temporary name beside its destination and
// renamed over it only at the commit, so that a failed or cancelled run never leaves a
// half-written file at the destination nor touches one that is there.

#include "rom/pending_output.h"
#include "rom/rom_sink.h"

#include <filesystem>
#include <fstream>
#include <optional>

namespace qm {

class file_sink final : public rom_sink {
public:
    // `tap`, when given, sees the image as it is written (it must outlive the sink's work).
    explicit file_sink(std::filesystem::path destination, sink_tap* tap = nullptr);

    // Refuses with "nds_rom::copy_to failed - can't open output file" a destination that is a
    // folder, or a file this user may not write, or a folder where no file can be created.
    void begin() override;
    void write(std::uint64_t at, byte_span data) override;
    void keep(std::uint64_t at, rom_source& source, std::uint64_t from, std::uint64_t size) override;
    // Writes the bytes to their place at once; at their turn they are only read back for the tap.
    bool set_aside(std::uint64_t at, byte_span data) override;
    void put_back(std::uint64_t at, std::uint64_t size) override;
    // Closes the file: a failed flush or close raises here, before anything is committed.
    void finish(std::uint64_t size) override;
    // Renames the file over the destination; throws std::runtime_error when it cannot.
    void commit() override;
    void discard() noexcept override;

private:
    // Moves the write position to `at`, over zeros.
    void skip_to(std::uint64_t at);

    std::filesystem::path destination;
    sink_tap* tap;
    // Declared before the stream, so that on an error the stream is closed before the temporary
    // file is removed.
    std::optional<pending_output> output;
    std::ofstream out;
    std::uint64_t end = 0; // of the bytes handed over so far
    bytes block;           // for ranges copied from the source
};

} // namespace qm
