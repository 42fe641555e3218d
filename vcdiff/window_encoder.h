#pragma once
// Writes the instructions of one target window into the three sections of the plain layout
// with the default code table, and appends the finished window to a delta.

#include "common/bytes.h"
#include "vcdiff/address_cache.h"
#include "vcdiff/code_table.h"

#include <cstdint>

namespace qm::vcdiff {

class window_encoder {
public:
    // Addresses of COPY are in the window's address space: the source segment first, then
    // the window's own target.
    explicit window_encoder(std::uint64_t segment_length);

    void add(byte_span literal);
    void run(std::uint8_t value, std::uint32_t size);
    void copy(std::uint64_t address, std::uint32_t size);

    // Appends the window. `indicator` is 0 (no source segment) or VCD_SOURCE with the
    // segment's length (given to the constructor) and position.
    void finish(bytes& out, std::uint8_t indicator, std::uint64_t segment_position);

private:
    struct held {
        inst_type type = inst_type::noop;
        std::uint8_t size = 0;
        std::uint8_t mode = 0;
    };

    void emit(inst_type type, std::uint32_t size, std::uint8_t mode);
    void write_single(inst_type type, std::uint32_t size, std::uint8_t mode);

    std::uint64_t segment_length;
    std::uint64_t here; // segment length plus target bytes described so far
    address_cache cache;
    bytes data;
    bytes instructions;
    bytes addresses;
    // An ADD of 1..4 bytes or a COPY of 4 bytes waits here: with the next instruction it may
    // fit one of the table's two-instruction opcodes.
    held waiting;
};

} // namespace qm::vcdiff
