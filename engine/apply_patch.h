#pragma once
// Applies one VCDIFF delta of the patch archive to the unpatched bytes it was made from.

#include "common/bytes.h"

namespace qm {

// Returns the delta's target; throws "apply_patch - decoder failed" when it does not decode.
bytes apply_patch(byte_span source, byte_span delta);

} // namespace qm
