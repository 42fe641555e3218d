// Expansion of the backward LZ form, from the end of the buffer towards its start, in place.
//
// Stored form of T bytes:
//   [0, R)          verbatim prefix (R = T - C)
//   [R, T - H)      token stream, read from its high end downwards
//   [T - H, T - 8)  zero padding
//   T - 8           word A (LE): bits 0-23 C, the compressed region counted back from the end;
//                                bits 24-31 H, the length of padding plus footer
//   T - 4           word B (LE): decoded length minus T, modulo 2^32
//
// Tokens come in groups of up to eight behind a flag byte, bit 7 first. A clear bit is a literal
// byte; a set bit is a 16-bit LE word: length (v >> 12) + 3, distance (v & 0xFFF) + 3, copied
// byte by byte downwards so that a match may repeat what it has just written.
//
// Every malformed form is rejected before anything is read or written outside the buffer: the
// footer must describe a region inside the input that can produce the decoded length, the stream
// must not run below R, and a match must stay within [R, D) for both its source and its target.
// A form whose decoded length D is at most R needs no token: it decodes to its first D bytes
// whatever its footer says. So the form of empty data (D = 0) decodes to an empty vector.

#include "lz/nds_lz.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace qm {
namespace {

constexpr std::uint32_t footer_size = 8;
constexpr std::uint32_t region_mask = 0x00FFFFFF;
constexpr unsigned min_match = 3;
constexpr unsigned min_distance = 3;
// One flag byte and eight 2-byte matches of 18 produce 144 bytes from 17: no stream yields more
// than 9 bytes per stream byte.
constexpr std::uint64_t max_expansion = 9;

[[noreturn]] void fail(const char* why)
{
    throw std::runtime_error(std::string("nds_lz_decomp failed - ") + why);
}

struct layout {
    std::uint32_t stream_end; // T - H, where reading starts
    std::uint32_t prefix;     // R
};

// Reads word A and, when there are tokens to decode, checks that it and the decoded length d
// describe a form that decodes within [0, max(t, d)). The first token's overlap test comes
// before everything else, as in the decoding loop.
layout read_layout(const std::uint8_t* stored, std::uint32_t t, std::uint32_t d)
{
    const std::uint32_t word_a = get_le32(byte_span(stored, t), t - footer_size);
    const std::int64_t h = word_a >> 24;
    const std::int64_t c = word_a & region_mask;
    const std::int64_t r = std::int64_t{t} - c;
    if (d > r && std::int64_t{t} - h > std::int64_t{d})
        fail("overlap spotted");
    if (d <= r) // nothing to decode; 0 <= r <= t here
        return {0, static_cast<std::uint32_t>(r)};
    if (h < footer_size)
        fail("footer length out of range");
    if (h > c)
        fail("footer longer than the compressed region");
    if (c > t)
        fail("compressed region longer than the input");
    if (static_cast<std::uint64_t>(d - r) > max_expansion * static_cast<std::uint64_t>(c - h))
        fail("decoded size out of reach of the token stream");
    return {static_cast<std::uint32_t>(t - h), static_cast<std::uint32_t>(r)};
}

} // namespace

void nds_lz_decomp(byte_span stored, std::vector<std::uint8_t>& buffer, std::uint32_t decoded_size)
{
    if (stored.size() < footer_size || stored.size() > std::numeric_limits<std::uint32_t>::max())
        fail("unexpected size of input");
    if (buffer.size() < std::max<std::size_t>(stored.size(), decoded_size))
        fail("working buffer smaller than its input or output");
    const auto t = static_cast<std::uint32_t>(stored.size());
    if (stored.data() != buffer.data())
        std::memmove(buffer.data(), stored.data(), t);

    const layout lay = read_layout(buffer.data(), t, decoded_size);
    std::uint8_t* const buf = buffer.data();
    const std::uint32_t r = lay.prefix;
    std::uint32_t rd = lay.stream_end; // read position, r <= rd
    std::uint32_t w = decoded_size;    // write position, r <= w
    unsigned flag = 0;
    unsigned bits_left = 0;

    while (w > r) {
        if (rd > w)
            fail("overlap spotted");
        if (bits_left == 0) {
            if (rd == r)
                fail("token stream runs below the compressed region");
            flag = buf[--rd];
            bits_left = 8;
        }
        --bits_left;
        if (((flag >> bits_left) & 1) == 0) {
            if (rd == r)
                fail("token stream runs below the compressed region");
            buf[--w] = buf[--rd];
            continue;
        }
        if (rd - r < 2)
            fail("token stream runs below the compressed region");
        rd -= 2;
        const unsigned v = buf[rd] | (buf[rd + 1] << 8);
        const std::uint32_t len = (v >> 12) + min_match;
        const std::uint32_t dist = (v & 0x0FFF) + min_distance;
        if (w - r < len)
            fail("match reaches below the compressed region");
        // The first byte copied comes from w - 1 + dist, which must be decoded data.
        if (dist > decoded_size - w)
            fail("match source beyond the decoded data");
        for (std::uint32_t k = 0; k < len; ++k) {
            --w;
            buf[w] = buf[w + dist];
        }
    }
}

std::vector<std::uint8_t> nds_lz_inplace_decomp(std::vector<std::uint8_t> data)
{
    if (data.size() < 4 || data.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::runtime_error("nds_lz_inplace_decomp failed - unexpected size of input");
    const auto t = static_cast<std::uint32_t>(data.size());
    const std::uint32_t d = t + get_le32(data, t - 4); // wraps modulo 2^32 by design
    // Both checks come before the buffer grows, so that a short or lying footer can never ask for
    // an allocation out of proportion with the input.
    if (t < footer_size)
        fail("unexpected size of input");
    read_layout(data.data(), t, d);

    data.resize(std::max(t, d));
    nds_lz_decomp(byte_span(data).first(t), data, d);
    data.resize(d);
    return data;
}

} // namespace qm
