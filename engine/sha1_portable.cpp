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

// The four stages of twenty rounds: their function of b, c and d, and their constant.
template <int stage>
constexpr std::uint32_t round_function(std::uint32_t b, std::uint32_t c, std::uint32_t d) noexcept
{
    if constexpr (stage == 0)
        return d ^ (b & (c ^ d)); // b chooses between c and d
    else if constexpr (stage == 2)
        return (b & c) | (d & (b | c)); // the majority of b, c and d
    else
        return b ^ c ^ d;
}
constexpr std::uint32_t round_constant[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};

// Message word i of the block: the first sixteen as read, then each from four earlier ones, kept
// in a ring of sixteen.
template <int i> inline std::uint32_t schedule(std::uint32_t (&w)[16]) noexcept
{
    if constexpr (i >= 16)
        w[i & 15] = rotl(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
    return w[i & 15];
}

// Five rounds from round i on. Rather than move all five words each round, the names turn: the
// round that would shift a into b computes into e, and the next one takes e as its a.
template <int i>
inline void five_rounds(std::uint32_t (&w)[16], std::uint32_t& a, std::uint32_t& b, std::uint32_t& c,
                        std::uint32_t& d, std::uint32_t& e) noexcept
{
    constexpr int stage = i / 20;
    constexpr std::uint32_t k = round_constant[stage];
    e += rotl(a, 5) + round_function<stage>(b, c, d) + k + schedule<i>(w);
    b = rotl(b, 30);
    d += rotl(e, 5) + round_function<stage>(a, b, c) + k + schedule<i + 1>(w);
    a = rotl(a, 30);
    c += rotl(d, 5) + round_function<stage>(e, a, b) + k + schedule<i + 2>(w);
    e = rotl(e, 30);
    b += rotl(c, 5) + round_function<stage>(d, e, a) + k + schedule<i + 3>(w);
    d = rotl(d, 30);
    a += rotl(b, 5) + round_function<stage>(c, d, e) + k + schedule<i + 4>(w);
    c = rotl(c, 30);
    if constexpr (i + 5 < 80)
        five_rounds<i + 5>(w, a, b, c, d, e);
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

// The eighty rounds written out, so that no round tests which stage it belongs to.
void sha1::state::compress(const std::uint8_t* block) noexcept
{
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i)
        w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
               std::uint32_t{block[4 * i + 2]} << 8 | block[4 * i + 3];
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    five_rounds<0>(w, a, b, c, d, e);
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
