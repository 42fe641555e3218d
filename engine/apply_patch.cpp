#include "engine/apply_patch.h"

#include "vcdiff/vcdiff_decoder.h"

#include <stdexcept>

namespace qm {

bytes apply_patch(const std::uint8_t* source, std::uint32_t count, const bytes& delta)
{
    bytes target;
    if (!vcdiff_decode(byte_span(source, count), delta, target))
        throw std::runtime_error("apply_patch - decoder failed");
    return target;
}

} // namespace qm
