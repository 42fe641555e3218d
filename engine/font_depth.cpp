#include "engine/font_depth.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_set>

namespace qm {

namespace {

// Fixed places of an NFTR font: the file header, the FINF block with its block offsets (which
// point 8 bytes into the block they name), then the CGLP block with its glyph data.
constexpr std::size_t file_size_field = 0x08;
constexpr std::size_t width_offset_field = 0x24;
constexpr std::size_t cmap_offset_field = 0x28;
constexpr std::size_t header_and_finf_size = 0x2C;
constexpr std::size_t cglp_pos = 0x2C;
constexpr std::size_t cglp_size_field = 0x30;
constexpr std::size_t tile_width_field = 0x34;
constexpr std::size_t tile_height_field = 0x35;
constexpr std::size_t tile_bytes_field = 0x36;
constexpr std::size_t baseline_field = 0x38;
constexpr std::size_t max_advance_field = 0x39;
constexpr std::size_t bpp_field = 0x3A;
constexpr std::size_t glyph_data_pos = 0x3C;
constexpr std::uint32_t cglp_header_size = 16;
constexpr std::size_t block_tag_and_size = 8;
// A character map's link to the next map, counted from where a link points into the map.
constexpr std::size_t cmap_next_field = 8;

[[noreturn]] void fail(const char* reason)
{
    throw std::runtime_error(std::string("convert_font_to_1bpp - ") + reason);
}

bool supported_depth(unsigned bpp)
{
    return bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8;
}

} // namespace

bytes convert_font_to_1bpp(byte_span in)
{
    // The header's file size is a 32-bit field: a larger font cannot agree with it.
    if (in.size() > 0xFFFFFFFFu)
        fail("file size does not match the font header");
    const auto size = static_cast<std::uint32_t>(in.size());
    if (size < glyph_data_pos)
        fail("font too short");
    if (get_le32(in, file_size_field) != size)
        fail("file size does not match the font header");

    const std::uint32_t z = get_le32(in, cglp_size_field);
    if (z < cglp_header_size)
        fail("glyph block smaller than its header");
    if (!in_bounds(size, cglp_pos, z))
        fail("glyph block outside the font");
    const unsigned w = get_u8(in, tile_width_field);
    const unsigned h = get_u8(in, tile_height_field);
    const unsigned t = get_le16(in, tile_bytes_field);
    const unsigned bpp = get_u8(in, bpp_field);
    if (t == 0)
        fail("tile size is zero");
    if (!supported_depth(bpp))
        fail("unsupported bits per pixel");
    if (std::uint64_t{w} * h * bpp > 8u * std::uint64_t{t})
        fail("tiles too small for their pixels");

    // The glyph count divides the whole block, header included, by the tile size; with tiles of
    // 16 bytes or less the last tile read lies past the glyph data, which must still be inside.
    const std::uint32_t n = z / t;
    if (!in_bounds(size, glyph_data_pos, std::uint64_t{n} * t))
        fail("glyph data outside the font");
    // t1 <= t and n * t <= z, so the new block is at most 19 bytes longer than the old one.
    const std::uint32_t t1 = (w * h + 7) / 8;
    const std::uint64_t z1 = round_up(std::uint64_t{t1} * n, 4) + cglp_header_size;
    const std::uint64_t new_size = std::uint64_t{size} - z + z1;
    if (new_size > 0xFFFFFFFFu)
        fail("converted font too large");
    const auto d = static_cast<std::uint32_t>(z1 - z); // the shift, modulo 2^32

    // Each character map must lie in the part that moves (after the glyph block) and the chain
    // must end; walk it once before writing anything.
    const std::uint64_t moved_from = cglp_pos + std::uint64_t{z};
    auto check_map = [&](std::uint32_t link) {
        if (link < moved_from + block_tag_and_size ||
            !in_bounds(size, std::size_t{link} + cmap_next_field, 4))
            fail("character map outside the font");
    };
    std::unordered_set<std::uint32_t> seen;
    for (std::uint32_t link = get_le32(in, cmap_offset_field);;) {
        check_map(link);
        if (!seen.insert(link).second)
            fail("character map chain loops");
        link = get_le32(in, std::size_t{link} + cmap_next_field);
        if (link == 0)
            break;
    }

    bytes out(new_size, 0);
    for (std::uint32_t g = 0; g < n; ++g)
        for (unsigned p = 0; p < w * h; ++p) {
            unsigned q = p * bpp;
            unsigned byte = in[glyph_data_pos + std::size_t{g} * t + q / 8];
            unsigned bit = (byte >> (8 - bpp - q % 8)) & 1; // lowest bit of the old pixel
            out[glyph_data_pos + std::size_t{g} * t1 + p / 8] |=
                static_cast<std::uint8_t>(bit << (7 - p % 8));
        }

    std::copy_n(in.begin(), header_and_finf_size, out.begin());
    put_le32(out, file_size_field, static_cast<std::uint32_t>(new_size));
    put_le32(out, width_offset_field, get_le32(in, width_offset_field) + d);
    put_le32(out, cmap_offset_field, get_le32(in, cmap_offset_field) + d);

    const char tag[] = "PLGC";
    std::copy_n(tag, 4, out.begin() + cglp_pos);
    put_le32(out, cglp_size_field, static_cast<std::uint32_t>(z1));
    put_u8(out, tile_width_field, static_cast<std::uint8_t>(w));
    put_u8(out, tile_height_field, static_cast<std::uint8_t>(h));
    put_le16(out, tile_bytes_field, static_cast<std::uint16_t>(t1));
    put_u8(out, baseline_field, get_u8(in, baseline_field));
    put_u8(out, max_advance_field, get_u8(in, max_advance_field));
    put_u8(out, bpp_field, 1);
    put_u8(out, bpp_field + 1, 0); // flags

    std::copy(in.begin() + static_cast<std::ptrdiff_t>(moved_from), in.end(),
              out.begin() + static_cast<std::ptrdiff_t>(cglp_pos + z1));

    for (std::uint32_t link = get_le32(in, cmap_offset_field);;) {
        std::uint32_t next = get_le32(in, std::size_t{link} + cmap_next_field);
        if (next == 0)
            break;
        put_le32(out, std::size_t{static_cast<std::uint32_t>(link + d)} + cmap_next_field, next + d);
        link = next;
    }
    return out;
}

} // namespace qm
