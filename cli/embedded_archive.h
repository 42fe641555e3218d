#pragma once
// The packed patch archive built into quillmoor-patch.

#include "common/bytes.h"

namespace qm {

byte_span embedded_archive() noexcept;

} // namespace qm
