// Backward LZ packing: whatever the data, the packed form expands in place to the data again.

#include "fuzz_support.h"
#include "lz/nds_lz.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const byte_span original(data, size);
    bytes packed;
    if (!fuzz::attempt([&] { packed = nds_lz_comp(original); }))
        return 0; // only data past the format's 16 MiB region can be refused
    bytes expanded;
    fuzz::expect(fuzz::attempt([&] { expanded = nds_lz_inplace_decomp(packed); }),
                 "packed form does not expand");
    fuzz::expect(expanded.size() == size && std::equal(expanded.begin(), expanded.end(), data),
                 "round trip changed the data");
    return 0;
}
