// Backward LZ expansion of a stored overlay from anywhere. A form that expands must give
// exactly the length its footer declares.

#include "fuzz_support.h"
#include "lz/nds_lz.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes stored(data, data + size);
    bytes expanded;
    if (!fuzz::attempt([&] { expanded = nds_lz_inplace_decomp(stored); }))
        return 0;
    fuzz::expect(size >= 4, "a form without a footer expanded");
    const std::uint32_t declared = static_cast<std::uint32_t>(size + get_le32(stored, size - 4));
    fuzz::expect(expanded.size() == declared, "expanded length differs from the declared one");
    return 0;
}
