// CPK entry compression: a compressed form is shorter than the file, a multiple of 4 bytes long,
// and expands to exactly the file.

#include "cpk/cpk_compress.h"
#include "cpk/cpk_decompress.h"
#include "fuzz_support.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto n = static_cast<std::uint32_t>(size);
    const std::optional<bytes> packed = cpk_compress(data, n);
    if (!packed)
        return 0;
    fuzz::expect(n >= cpk_min_compress_size, "a short file was compressed");
    fuzz::expect(packed->size() < n && packed->size() % 4 == 0, "compressed form of a bad length");
    bytes expanded(n);
    fuzz::expect(fuzz::attempt([&] {
                     cpk_decompress(packed->data(), static_cast<std::uint32_t>(packed->size()),
                                    expanded.data(), n);
                 }),
                 "compressed form does not expand");
    fuzz::expect(std::equal(expanded.begin(), expanded.end(), data), "round trip changed the file");
    return 0;
}
