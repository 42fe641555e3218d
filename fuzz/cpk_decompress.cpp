// Expansion of a CPK entry from anywhere, with a claimed expanded size up to the largest one that
// the archive reader lets through for the stored length. The first byte chooses expansion into
// a separate buffer or in place; the next four give the claimed size.

#include "cpk/cpk_decompress.h"
#include "fuzz_support.h"

#include <cstring>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::input_reader in(data, size);
    const bool in_place = in.u8() & 1;
    const std::uint32_t claimed = in.u32();
    const byte_span src = in.rest();
    const auto t = static_cast<std::uint32_t>(src.size());
    // cpk_visit refuses larger claims before allocating; the function itself sees only these.
    const std::uint64_t n = claimed % (cpk_max_extract_size(t) + 1);

    bytes dst(std::max<std::uint64_t>(n, t));
    byte_span from = src;
    if (in_place && t > 0) {
        std::memcpy(dst.data(), src.data(), t);
        from = byte_span(dst).first(t);
    }
    fuzz::attempt([&] { cpk_decompress(from, mutable_byte_span(dst).first(n)); });
    return 0;
}
