#pragma once
// The packed patch archive built into quillmoor-patch, and its identity card (empty when the
// archive came without one).

#include "common/bytes.h"

#include <string_view>

namespace qm {

byte_span embedded_archive() noexcept;
std::string_view embedded_card() noexcept;

} // namespace qm
