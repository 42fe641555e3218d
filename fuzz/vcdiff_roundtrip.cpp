// VCDIFF encoding: the delta from any source to any target decodes against the source to
// exactly the target. Input: u16 source length, the source, then the target.

#include "fuzz_support.h"
#include "vcdiff/vcdiff_decoder.h"
#include "vcdiff/vcdiff_encoder.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::input_reader in(data, size);
    const byte_span source = in.part();
    const byte_span target = in.rest();
    const bytes delta = vcdiff_encode(source, target);
    bytes decoded;
    std::string why;
    if (!vcdiff_decode(source, delta, decoded, &why))
        fuzz::property_failed(("delta does not decode: " + why).c_str());
    fuzz::expect(decoded.size() == target.size() &&
                     std::equal(decoded.begin(), decoded.end(), target.begin()),
                 "round trip changed the target");
    return 0;
}
