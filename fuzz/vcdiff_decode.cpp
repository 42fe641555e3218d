// VCDIFF decoding from anywhere, against a source from anywhere. Input: u16 source length, the
// source, then the delta. A failed decode leaves no output behind.

#include "fuzz_support.h"
#include "vcdiff/vcdiff_decoder.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::input_reader in(data, size);
    const byte_span source = in.part();
    const byte_span delta = in.rest();
    bytes target{1, 2, 3};
    std::string why;
    if (!vcdiff_decode(source, delta, target, &why))
        fuzz::expect(target.empty() && !why.empty(), "failed decode left output or no reason");
    return 0;
}
