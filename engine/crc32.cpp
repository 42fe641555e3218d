#include "engine/crc32.h"

#include <array>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QM_CRC32_CLMUL 1
#endif

namespace qm {

namespace {

// Table k gives the register's change for a byte followed by k zero bytes, so that 16 bytes can
// be folded into the register at once by 16 independent lookups (slicing by 16) instead of 16
// lookups that each wait for the one before. Table 0 is the usual one of the reflected
// polynomial 0xEDB88320; all are built at compile time and shared by every caller.
constexpr std::size_t slices = 16;
using crc_tables = std::array<std::array<std::uint32_t, 256>, slices>;

constexpr crc_tables make_crc32_tables() noexcept
{
    crc_tables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int k = 0; k < 8; ++k)
            r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        t[0][i] = r;
    }
    for (std::size_t k = 1; k < slices; ++k)
        for (std::uint32_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}

constexpr crc_tables tables = make_crc32_tables();

// Four bytes as a little-endian word, whatever the machine's byte order (one load where it is
// little-endian).
inline std::uint32_t le32_at(const std::uint8_t* p) noexcept
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

#ifdef QM_CRC32_CLMUL
// Folding with carry-less multiplication, where the processor has it: 64 bytes at a time are
// folded four blocks of 16 bytes wide, then into one block, which is reduced to the 32-bit register
// by a Barrett reduction. The constants are powers of x modulo the (bit-reflected) polynomial for
// the folding distances of 512 and 128 bits, 64 and 32 bits, then the polynomial itself and its
// quotient for the reduction. Takes the register as it runs (already inverted), and at least 64
// bytes, a multiple of 16 of which it consumes; returns the register.
#define QM_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

QM_CLMUL_TARGET inline __m128i load(const std::uint8_t* at) noexcept
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// The block x moved forward by the distance whose constants k holds, added to the block after it.
QM_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i next) noexcept
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)),
                         next);
}

QM_CLMUL_TARGET std::uint32_t fold_blocks(std::uint32_t r, const std::uint8_t*& p, std::size_t& left) noexcept
{
    const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
    const __m128i poly = _mm_set_epi64x(0x1f7011641, 0x1db710641);
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(r)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    for (p += 64, left -= 64; left >= 64; p += 64, left -= 64) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
    }
    x1 = fold(fold(fold(x1, k3k4, x2), k3k4, x3), k3k4, x4);
    for (; left >= 16; p += 16, left -= 16)
        x1 = fold(x1, k3k4, load(p));

    // 128 bits to 64, then to 32 (appending the 32 zero bits the register's width asks for).
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

bool has_clmul() noexcept
{
    static const bool present = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return present;
}
#endif

} // namespace

std::uint32_t crc32(byte_span data) noexcept
{
    return crc32_continue(0, data);
}

std::uint32_t crc32_continue(std::uint32_t previous, byte_span data) noexcept
{
    std::uint32_t r = ~previous;
    const std::uint8_t* p = data.data();
    std::size_t left = data.size();
#ifdef QM_CRC32_CLMUL
    if (left >= 64 && has_clmul())
        r = fold_blocks(r, p, left);
#endif
    // The register lines up with the first four bytes of each block; the other twelve enter
    // through the tables of their distance from the block's end.
    for (; left >= slices; left -= slices, p += slices) {
        const std::uint32_t a = r ^ le32_at(p);
        const std::uint32_t b = le32_at(p + 4);
        const std::uint32_t c = le32_at(p + 8);
        const std::uint32_t d = le32_at(p + 12);
        r = tables[15][a & 0xFF] ^ tables[14][(a >> 8) & 0xFF] ^ tables[13][(a >> 16) & 0xFF] ^
            tables[12][a >> 24] ^ tables[11][b & 0xFF] ^ tables[10][(b >> 8) & 0xFF] ^
            tables[9][(b >> 16) & 0xFF] ^ tables[8][b >> 24] ^ tables[7][c & 0xFF] ^
            tables[6][(c >> 8) & 0xFF] ^ tables[5][(c >> 16) & 0xFF] ^ tables[4][c >> 24] ^
            tables[3][d & 0xFF] ^ tables[2][(d >> 8) & 0xFF] ^ tables[1][(d >> 16) & 0xFF] ^
            tables[0][d >> 24];
    }
    for (; left != 0; --left, ++p)
        r = (r >> 8) ^ tables[0][(r ^ *p) & 0xFF];
    return ~r;
}

} // namespace qm
