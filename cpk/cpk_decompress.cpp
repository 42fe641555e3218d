#include "cpk/cpk_decompress.h"

#include <array>
#include <cstring>
#include <stdexcept>
#include <string>

namespace qm {
namespace {

// A match copies from o + 3 bytes above the output position.
constexpr std::uint32_t min_distance = 3;
constexpr std::uint32_t min_length = 3;

[[noreturn]] void fail(const char* reason)
{
    throw std::runtime_error(std::string("Decompression error: ") + reason);
}

// Bits come from bytes taken from the end of the stream towards its start, most significant first.
// `r` is the lowest byte fetched so far; fetching below byte 0 means the stream is malformed.
class bit_reader {
public:
    bit_reader(const std::uint8_t* buffer, std::uint32_t start) : buf(buffer), r(start) {}

    // Before each token the reservoir is topped up to more than 24 bits.
    void refill()
    {
        if (count <= 24)
            for (unsigned n = (24 - count) / 8 + 1; n > 0; --n)
                fetch();
    }

    void fetch()
    {
        if (r == 0)
            fail("stream runs past its start");
        --r;
        reservoir = (reservoir << 8) | buf[r];
        count += 8;
    }

    std::uint32_t take(unsigned n)
    {
        count -= n;
        return (reservoir >> count) & ((1u << n) - 1);
    }

    // 8-bit fields fetch one byte of their own first.
    std::uint32_t take_byte()
    {
        fetch();
        return take(8);
    }

    std::uint32_t position() const noexcept { return r; }

private:
    const std::uint8_t* buf;
    std::uint32_t r;
    std::uint32_t reservoir = 0;
    unsigned count = 0;
};

// Length code: 2 bits, then 3, then 5, then 8, then repeated bytes while each is at its maximum.
std::uint64_t read_length(bit_reader& in)
{
    std::uint64_t extra = in.take(2);
    if (extra < 3)
        return min_length + extra;
    std::uint32_t v = in.take(3);
    if (v < 7)
        return min_length + 3 + v;
    v = in.take(5);
    if (v < 31)
        return min_length + 10 + v;
    v = in.take_byte();
    if (v < 255)
        return min_length + 41 + v;
    extra = 296;
    do {
        v = in.take_byte();
        extra += v;
    } while (v == 255);
    return min_length + extra;
}

} // namespace

std::uint64_t cpk_max_extract_size(std::uint32_t src_size)
{
    // A match of 553 + 255m bytes costs 40 + 8m bits, so a stream bit yields fewer than 32 bytes.
    if (src_size <= cpk_verbatim_prefix)
        return cpk_verbatim_prefix;
    return cpk_verbatim_prefix + 256 * std::uint64_t(src_size - cpk_verbatim_prefix);
}

void cpk_decompress(byte_span source, mutable_byte_span destination)
{
    if (source.size() > 0xFFFFFFFFu || destination.size() > 0xFFFFFFFFu)
        fail("form or expanded size of 4 GiB or more");
    const std::uint8_t* src = source.data();
    const auto src_size = static_cast<std::uint32_t>(source.size());
    std::uint8_t* dst = destination.data();
    const auto dst_size = static_cast<std::uint32_t>(destination.size());
    if (src_size < cpk_verbatim_prefix)
        fail("compressed form shorter than 256 bytes");
    if (dst_size <= cpk_verbatim_prefix)
        fail("expanded size of 256 bytes or less");
    if (dst_size < src_size)
        fail("expanded size below the compressed size");

    // Kept aside so that src may be dst itself (expansion in place).
    std::array<std::uint8_t, cpk_verbatim_prefix> prefix;
    std::memcpy(prefix.data(), src + src_size - cpk_verbatim_prefix, prefix.size());
    std::memmove(dst, src, src_size);

    bit_reader in(dst, src_size - cpk_verbatim_prefix);
    std::uint32_t p = dst_size;
    while (p > cpk_verbatim_prefix) {
        in.refill();
        if (in.take(1) == 0) {
            const std::uint8_t literal = static_cast<std::uint8_t>(in.take(8));
            if (p - 1 < in.position())
                fail("overlap spotted");
            dst[--p] = literal;
            continue;
        }
        const std::uint32_t distance = in.take(13) + min_distance;
        const std::uint64_t length = read_length(in);
        // The overlap test comes first, then the checks that keep the copy inside the buffer.
        if (length > p || p - length < in.position())
            fail("overlap spotted");
        if (std::uint64_t(p) - 1 + distance >= dst_size)
            fail("match source outside the file");
        if (p - length < cpk_verbatim_prefix)
            fail("match runs into the verbatim prefix");
        const std::uint32_t n = static_cast<std::uint32_t>(length);
        std::uint8_t* out = dst + p - n;
        if (distance >= n) {
            std::memcpy(out, out + distance, n);
        } else {
            // Overlapping source: copy high to low so the pattern repeats.
            for (std::uint32_t k = n; k > 0; --k)
                out[k - 1] = out[k - 1 + distance];
        }
        p -= n;
    }
    std::memcpy(dst, prefix.data(), prefix.size());
}

} // namespace qm
