#include "engine/sha1.h"

#include <cstring>

namespace qm {

namespace {

constexpr std::uint32_t rotl(std::uint32_t x, int n) noexcept
{
    return (x << n) | (x >> (32 - n));
}

} // namespace

void sha1::compress(const std::uint8_t* block) noexcept
{
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
               std::uint32_t{block[4 * i + 2]} << 8 | block[4 * i + 3];
    for (int i = 16; i < 80; ++i)
        w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
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
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

void sha1::update(byte_span data) noexcept
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

sha1::digest sha1::finish() noexcept
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
        out[i] = static_cast<std::uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
    return out;
}

sha1::digest sha1::of(byte_span data) noexcept
{
    sha1 h;
    h.update(data);
    return h.finish();
}

std::string sha1::hex(const digest& d)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : d) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0xF]);
    }
    return text;
}

} // namespace qm
