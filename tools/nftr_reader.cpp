#include "tools/nftr_reader.h"

#include <stdexcept>
#include <string>
#include <unordered_set>

namespace qm {

namespace {

constexpr std::size_t file_header_min = 16;
constexpr std::size_t header_size_field = 0x0C;
constexpr std::size_t finf_min_size = 28;
constexpr std::size_t block_tag_and_size = 8; // block offsets point past these
constexpr std::size_t cglp_header_size = 16;
constexpr std::size_t cwdh_header_size = 16;
constexpr std::size_t cmap_header_size = 20;
constexpr std::uint16_t no_glyph = 0xFFFF;

enum cmap_type : std::uint32_t { cmap_direct = 0, cmap_table = 1, cmap_scan = 2 };

[[noreturn]] void fail(const std::string& reason)
{
    throw std::runtime_error("read_nftr - " + reason);
}

bool has_tag(byte_span file, std::size_t pos, const char* tag)
{
    for (std::size_t i = 0; i < 4; ++i)
        if (get_u8(file, pos + i) != static_cast<std::uint8_t>(tag[i]))
            return false;
    return true;
}

// The block that `link` (a stored offset, 8 bytes into the block) names: checks its tag, that its
// header fits and that its whole size lies in the file; returns the block's start and size.
std::pair<std::size_t, std::uint32_t> block_at(byte_span file, std::uint32_t link, const char* tag,
                                               std::size_t header_size, const char* what)
{
    if (link < block_tag_and_size || !in_bounds(file.size(), link - block_tag_and_size, header_size))
        fail(std::string(what) + " outside the file");
    std::size_t pos = link - block_tag_and_size;
    if (!has_tag(file, pos, tag))
        fail(std::string(what) + " has no " + tag + " tag");
    std::uint32_t size = get_le32(file, pos + 4);
    if (size < header_size || !in_bounds(file.size(), pos, size))
        fail(std::string(what) + " size does not fit the file");
    return {pos, size};
}

void read_widths(byte_span file, std::uint32_t link, nftr_font& font)
{
    std::unordered_set<std::uint32_t> seen;
    while (link != 0) {
        if (!seen.insert(link).second)
            fail("width block chain loops");
        auto [pos, size] = block_at(file, link, "HDWC", cwdh_header_size, "width block");
        unsigned first = get_le16(file, pos + 8);
        unsigned last = get_le16(file, pos + 10);
        if (last < first)
            fail("width block ends before it starts");
        if (std::size_t{last - first + 1} * 3 > size - cwdh_header_size)
            fail("width entries overrun their block");
        for (unsigned g = first; g <= last; ++g) {
            if (g >= font.widths.size())
                break;
            std::size_t e = pos + cwdh_header_size + std::size_t{g - first} * 3;
            font.widths[g] = {static_cast<std::int8_t>(get_u8(file, e)), get_u8(file, e + 1),
                              get_u8(file, e + 2)};
        }
        link = get_le32(file, pos + 12);
    }
}

void map_code(nftr_font& font, std::uint32_t code, std::uint32_t glyph)
{
    if (glyph != no_glyph && glyph < font.glyph_count() && code <= 0xFFFF)
        font.glyph_of_code.emplace(static_cast<std::uint16_t>(code), static_cast<std::uint16_t>(glyph));
}

void read_maps(byte_span file, std::uint32_t link, nftr_font& font)
{
    std::unordered_set<std::uint32_t> seen;
    while (link != 0) {
        if (!seen.insert(link).second)
            fail("character map chain loops");
        auto [pos, size] = block_at(file, link, "PAMC", cmap_header_size, "character map");
        std::uint32_t first = get_le16(file, pos + 8);
        std::uint32_t last = get_le16(file, pos + 10);
        std::uint32_t type = get_le32(file, pos + 12);
        const std::size_t body = pos + cmap_header_size;
        const std::size_t body_size = size - cmap_header_size;
        if (type == cmap_direct || type == cmap_table) {
            if (last < first)
                fail("character map ends before it starts");
            if (type == cmap_direct) {
                if (body_size < 2)
                    fail("character map overruns its block");
                std::uint32_t base = get_le16(file, body);
                for (std::uint32_t c = first; c <= last; ++c)
                    map_code(font, c, base + (c - first));
            } else {
                if (std::size_t{last - first + 1} * 2 > body_size)
                    fail("character map overruns its block");
                for (std::uint32_t c = first; c <= last; ++c)
                    map_code(font, c, get_le16(file, body + 2 * (c - first)));
            }
        } else if (type == cmap_scan) {
            if (body_size < 2)
                fail("character map overruns its block");
            std::size_t pairs = get_le16(file, body);
            if (pairs * 4 > body_size - 2)
                fail("character map overruns its block");
            for (std::size_t i = 0; i < pairs; ++i)
                map_code(font, get_le16(file, body + 2 + 4 * i), get_le16(file, body + 4 + 4 * i));
        } else {
            fail("unknown character map type " + std::to_string(type));
        }
        link = get_le32(file, pos + 16);
    }
}

} // namespace

unsigned nftr_font::pixel(std::uint32_t glyph, unsigned x, unsigned y) const
{
    std::size_t bit = (std::size_t{y} * tile_width + x) * bits_per_pixel;
    unsigned byte = glyph_data.at(std::size_t{glyph} * tile_bytes + bit / 8);
    return (byte >> (8 - bits_per_pixel - bit % 8)) & ((1u << bits_per_pixel) - 1);
}

nftr_font read_nftr(byte_span file)
{
    if (file.size() < file_header_min || !has_tag(file, 0, "RTFN"))
        fail("not an NFTR font");
    const std::size_t finf = get_le16(file, header_size_field);
    if (!in_bounds(file.size(), finf, finf_min_size) || !has_tag(file, finf, "FNIF"))
        fail("font information block missing");

    nftr_font font;
    font.line_height = get_u8(file, finf + 9);
    font.default_width = {static_cast<std::int8_t>(get_u8(file, finf + 12)), get_u8(file, finf + 13),
                          get_u8(file, finf + 14)};
    const std::uint32_t glyph_link = get_le32(file, finf + 16);
    const std::uint32_t width_link = get_le32(file, finf + 20);
    const std::uint32_t map_link = get_le32(file, finf + 24);

    auto [cglp, cglp_size] = block_at(file, glyph_link, "PLGC", cglp_header_size, "glyph block");
    font.tile_width = get_u8(file, cglp + 8);
    font.tile_height = get_u8(file, cglp + 9);
    font.tile_bytes = get_le16(file, cglp + 10);
    font.baseline = get_u8(file, cglp + 12);
    font.bits_per_pixel = get_u8(file, cglp + 14);
    const unsigned bpp = font.bits_per_pixel;
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8)
        fail("unsupported depth of " + std::to_string(bpp) + " bits per pixel");
    if (std::size_t{font.tile_width} * font.tile_height * bpp > 8 * std::size_t{font.tile_bytes})
        fail("tiles too small for their pixels");
    if (font.tile_bytes != 0) {
        std::size_t count = (cglp_size - cglp_header_size) / font.tile_bytes;
        auto data = file.subspan(cglp + cglp_header_size, count * font.tile_bytes);
        font.glyph_data.assign(data.begin(), data.end());
    }

    font.widths.assign(font.glyph_count(), font.default_width);
    read_widths(file, width_link, font);
    read_maps(file, map_link, font);
    return font;
}

} // namespace qm
