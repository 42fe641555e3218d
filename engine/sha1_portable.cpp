// SHA-1 in portable C++, for the one build that has no system library to take it from (the
// browser edition's WebAssembly).

#include "engine/sha1.h"

#include <cstring>

namespace qm {

namespace {

constexpr std::uint32_t rotl(std::uint32_t x, int n) noexcept
{
    return (x << n) | (x >> (32 - n));
}

} // namespace

struct sha1::state {
    void compress(const std::uint8_t* block) noexcept;
    void update(byte_span data) noexcept;
    digest finish() noexcept;

    std::array<std::uint32_t, 5> h{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    std::array<std::uint8_t, 64> buffer{};
    std::size_t buffered = 0;
    std::uint64_t length = 0; // bytes given so far
};

sha1::sha1() : running(std::make_unique<state>()) {}
sha1::~sha1() = default;

void sha1::state::compress(const std::uint8_t* block) noexcept
{
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
               std::uint32_t{block[4 * i + 2]} << 8 | block[4 * i + 3];
    for (int i = 16; i < 80; ++i)
        w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
        std::uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const std::uint32_t t = rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rotl(b, 30);
        b = a;
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

void sha1::state::update(byte_span data) noexcept
{
    // An empty span may have no data pointer at all, which memcpy must not be given.
    if (data.empty())
        return;
    length += data.size();
    std::size_t at = 0;
    if (buffered != 0) {
        const std::size_t n = std::min(data.size(), buffer.size() - buffered);
        std::memcpy(buffer.data() + buffered, data.data(), n);
        buffered += n;
        at = n;
        if (buffered < buffer.size())
            return;
        compress(buffer.data());
        buffered = 0;
    }
    for (; data.size() - at >= 64; at += 64)
        compress(data.data() + at);
    if (data.size() != at)
        std::memcpy(buffer.data(), data.data() + at, data.size() - at);
    buffered = data.size() - at;
}

sha1::digest sha1::state::finish() noexcept
{
    // Padding: a one bit, zeros up to 56 bytes modulo 64, then the length in bits, big-endian.
    const std::uint64_t bits = length * 8;
    std::uint8_t tail[72] = {0x80};
    const std::size_t pad = (buffered < 56 ? 56 : 120) - buffered;
    for (int i = 0; i < 8; ++i)
        tail[pad + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    update(byte_span(tail, pad + 8));
    digest out;
    for (int i = 0; i < 20; ++i)
        out[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return out;
}

void sha1::update(byte_span data)
{
    running->update(data);
}

sha1::digest sha1::finish()
{
    return running->finish();
}

} // namespace qm
