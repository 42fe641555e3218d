#include "vcdiff/adler32.h"

#include <algorithm>

namespace qm::vcdiff {

std::uint32_t adler32(byte_span data)
{
    constexpr std::uint32_t mod = 65521;
    // 5552 bytes is the longest stretch whose sums cannot overflow 32 bits before reduction.
    constexpr std::size_t block = 5552;
    std::uint32_t a = 1, b = 0;
    std::size_t pos = 0;
    while (pos < data.size()) {
        const std::size_t end = pos + std::min(block, data.size() - pos);
        for (; pos < end; ++pos) {
            a += data[pos];
            b += a;
        }
        a %= mod;
        b %= mod;
    }
    return (b << 16) | a;
}

} // namespace qm::vcdiff
