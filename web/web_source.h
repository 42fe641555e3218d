#pragma once
// The browser edition's source: the player's File, read by the worker script straight into the
// engine's buffers, one call a read. (Through the module's file system, every read would go by a
// stream buffer of a few KiB and its calls out of WebAssembly.)

#include "rom/rom_source.h"

namespace qm::web {

class web_source final : public rom_source {
public:
    // The File of `size` bytes that the worker script reads for the engine.
    explicit web_source(std::uint64_t size) noexcept : length(size) {}

    std::uint64_t size() const noexcept override { return length; }
    // Fails with the standard stream failure, as a file does, when the browser cannot read the
    // File any more (it was moved or changed since it was chosen).
    void read_at(std::uint64_t offset, mutable_byte_span into) override;

private:
    std::uint64_t length;
};

} // namespace qm::web
