#include "engine/apply_patch.h"

#include "vcdiff/vcdiff_decoder.h"

#include <stdexcept>

namespace qm {

bytes apply_patch(byte_span source, byte_span delta)
{
    bytes target;
    if (!vcdiff_decode(source, delta, target))
        throw std::runtime_error("apply_patch - decoder failed");
    return target;
}

} // namespace qm
