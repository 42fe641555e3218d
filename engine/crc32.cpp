#include "engine/crc32.h"

#include <array>

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
