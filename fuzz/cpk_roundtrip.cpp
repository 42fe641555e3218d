// CPK entry compression: a compressed form is shorter than the file, a multiple of 4 bytes long,
// and expands to exactly the file.

#include "cpk/cpk_compress.h"
#include "cpk/cpk_decompress.h"
#include "fuzz_support.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const byte_span file(data, size);
    const std::optional<bytes> packed = cpk_compress(file);
    if (!packed)
        return 0;
    fuzz::expect(size >= cpk_min_compress_size, "a short file was compressed");
    fuzz::expect(packed->size() < size && packed->size() % 4 == 0, "compressed form of a bad length");
    bytes expanded(size);
    fuzz::expect(fuzz::attempt([&] { cpk_decompress(*packed, expanded); }),
                 "compressed form does not expand");
    fuzz::expect(std::equal(expanded.begin(), expanded.end(), data), "round trip changed the file");
    return 0;
}
