#pragma once
// Deterministic RFC 3284 encoder for authoring patches (not linked into the patchers).

#include "common/bytes.h"

namespace qm {

// A plain-format delta (version 0x00, default code table, VCD_SOURCE windows) that turns
// `source` into `target`.
bytes vcdiff_encode(byte_span source, byte_span target);

} // namespace qm
