#pragma once
// The LZMA codec of the packed patch archive, over the LZMA SDK's one-call coder.

#include "common/bytes.h"

#include <array>

namespace qm {

constexpr std::size_t lzma_props_size = 5;

// Decodes a raw LZMA stream (no header of its own) with the 5-byte properties into exactly
// out.size() bytes, stopping there (no end marker needed). Returns false unless the SDK
// reports success.
bool lzma_unpack(byte_span props, byte_span stream, mutable_byte_span out);

struct lzma_packed {
    std::array<std::uint8_t, lzma_props_size> props;
    bytes stream; // raw stream, no end marker
};

lzma_packed lzma_pack(byte_span data);

} // namespace qm
