#pragma once
// Backward LZ form in which overlays are stored: the compressed bytes sit at the start of a
// buffer and expand from its end towards its start, in place.

#include "common/bytes.h"

namespace qm {

// Expands a stored form of T bytes (taken by value: its storage becomes the working buffer).
std::vector<std::uint8_t> nds_lz_inplace_decomp(std::vector<std::uint8_t> data);

// The decoding loop: `buffer` is at least as long as the decoded data, whose length the caller has
// set, and the stored form is copied to its first bytes (`stored` may already be them).
void nds_lz_decomp(byte_span stored, std::vector<std::uint8_t>& buffer, std::uint32_t decoded_size);

// Packs data into the stored form; nds_lz_inplace_decomp of the result gives the data back.
std::vector<std::uint8_t> nds_lz_comp(byte_span data);

} // namespace qm
