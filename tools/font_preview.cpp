#include "tools/font_preview.h"

#include <png.h>

#include <algorithm>
#include <stdexcept>

namespace qm {

namespace {

constexpr unsigned margin = 4;
constexpr unsigned grid_columns = 16;
constexpr unsigned cell_padding = 1;
constexpr unsigned line_gap = 3;
constexpr unsigned max_scale = 32;

struct rgb {
    std::uint8_t r, g, b;
};
constexpr rgb paper{255, 255, 255};
constexpr rgb grid_line{190, 190, 190};
constexpr rgb width_tint{226, 234, 255};
constexpr rgb descender_tint{240, 240, 240};
constexpr rgb descender_width_tint{208, 220, 246};

// A canvas in font pixels, scaled up only when the image is made.
class canvas {
public:
    canvas(unsigned w, unsigned h) : width(w), height(h), px(std::size_t{w} * h, paper) {}

    void set(long x, long y, rgb c)
    {
        if (x >= 0 && y >= 0 && x < static_cast<long>(width) && y < static_cast<long>(height))
            px[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)] = c;
    }

    void fill(long x, long y, unsigned w, unsigned h, rgb c)
    {
        for (unsigned dy = 0; dy < h; ++dy)
            for (unsigned dx = 0; dx < w; ++dx)
                set(x + dx, y + dy, c);
    }

    // Draws a glyph's ink (empty pixels leave the background) with its tile's top left at (x, y).
    void draw_glyph(const nftr_font& font, std::uint32_t glyph, long x, long y)
    {
        const unsigned max_value = (1u << font.bits_per_pixel) - 1;
        for (unsigned ty = 0; ty < font.tile_height; ++ty)
            for (unsigned tx = 0; tx < font.tile_width; ++tx) {
                unsigned v = font.pixel(glyph, tx, ty);
                if (v == 0)
                    continue;
                auto level = static_cast<std::uint8_t>(255 - 255 * v / max_value);
                set(x + tx, y + ty, {level, level, level});
            }
    }

    rgb_image scaled(unsigned scale) const
    {
        rgb_image img;
        img.width = width * scale;
        img.height = height * scale;
        img.pixels.resize(std::size_t{img.width} * img.height * 3);
        for (unsigned y = 0; y < img.height; ++y)
            for (unsigned x = 0; x < img.width; ++x) {
                rgb c = px[std::size_t{y / scale} * width + x / scale];
                std::size_t o = (std::size_t{y} * img.width + x) * 3;
                img.pixels[o] = c.r;
                img.pixels[o + 1] = c.g;
                img.pixels[o + 2] = c.b;
            }
        return img;
    }

private:
    unsigned width, height;
    std::vector<rgb> px;
};

// Glyphs of a line, each with the pen position it is drawn at; characters without a glyph drop out.
struct placed_glyph {
    std::uint32_t glyph;
    long x;
};

std::vector<placed_glyph> set_line(const nftr_font& font, const std::u16string& text, long& width)
{
    std::vector<placed_glyph> out;
    long pen = 0;
    width = 0;
    for (char16_t c : text) {
        auto it = font.glyph_of_code.find(static_cast<std::uint16_t>(c));
        if (it == font.glyph_of_code.end())
            continue;
        const nftr_glyph_width& m = font.widths[it->second];
        out.push_back({it->second, pen + m.left});
        width = std::max({width, pen + m.left + static_cast<long>(font.tile_width), pen + m.advance});
        pen += m.advance;
    }
    return out;
}

} // namespace

const std::vector<std::u16string>& preview_sample_lines()
{
    static const std::vector<std::u16string> lines = {
        u"Voilà l’été : « Œuvre », déjà naïve… — 12 €",
        u"Où êtes-vous ? Ça coûte 5 € ! « Très bien », dit-il.",
        u"Portez ce vieux whisky au juge blond qui fume.",
        u"ÀÂÄÆÇÉÈÊËÎÏÔŒÙÛÜ àâäæçéèêëîïôöœùûü ß ñ",
        u"“Quillmoor™” ‘1/2’ „ok“ ¡Hola! ¿Qué? ª º ° § © ® • ± × ÷ ¢ £ ¥",
        u"The quick brown fox jumps over the lazy dog. 0123456789",
    };
    return lines;
}

rgb_image render_font_preview(const nftr_font& font, unsigned scale)
{
    if (scale == 0 || scale > max_scale)
        throw std::runtime_error("render_font_preview - scale must lie between 1 and 32");
    const std::uint32_t count = font.glyph_count();
    const unsigned cell_w = font.tile_width + 2 * cell_padding;
    const unsigned cell_h = font.tile_height + 2 * cell_padding;
    const unsigned rows = (count + grid_columns - 1) / grid_columns;
    const unsigned grid_w = grid_columns * (cell_w + 1) + 1;
    const unsigned grid_h = rows * (cell_h + 1) + 1;

    const auto& samples = preview_sample_lines();
    std::vector<std::vector<placed_glyph>> lines;
    long text_w = 0;
    for (const auto& s : samples) {
        long w = 0;
        lines.push_back(set_line(font, s, w));
        text_w = std::max(text_w, w);
    }
    const unsigned line_pitch = std::max(font.line_height, font.tile_height) + line_gap;

    const unsigned width = 2 * margin + std::max(grid_w, static_cast<unsigned>(text_w));
    const unsigned height = 2 * margin + grid_h + margin + static_cast<unsigned>(lines.size()) * line_pitch;
    canvas c(width, height);

    c.fill(margin, margin, grid_w, grid_h, grid_line);
    for (std::uint32_t g = 0; g < count; ++g) {
        const long cx = margin + 1 + static_cast<long>(g % grid_columns) * (cell_w + 1);
        const long cy = margin + 1 + static_cast<long>(g / grid_columns) * (cell_h + 1);
        const long tx = cx + cell_padding, ty = cy + cell_padding;
        c.fill(cx, cy, cell_w, cell_h, paper);
        const nftr_glyph_width& m = font.widths[g];
        for (unsigned y = 0; y < font.tile_height; ++y) {
            const bool below = y > font.baseline;
            for (unsigned x = 0; x < font.tile_width; ++x) {
                const bool inside = static_cast<long>(x) < static_cast<long>(m.width);
                if (inside || below)
                    c.set(tx + x, ty + y,
                          inside ? (below ? descender_width_tint : width_tint) : descender_tint);
            }
        }
        c.draw_glyph(font, g, tx, ty);
    }

    long y = margin + grid_h + margin;
    for (const auto& line : lines) {
        for (const placed_glyph& p : line)
            c.draw_glyph(font, p.glyph, margin + p.x, y);
        y += line_pitch;
    }
    return c.scaled(scale);
}

bytes encode_png(const rgb_image& image)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_RGB;
    if (image.pixels.size() != std::size_t{image.width} * image.height * 3)
        throw std::runtime_error("encode_png - pixel buffer does not match the image size");
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.pixels.data(), 0, nullptr))
        throw std::runtime_error(std::string("encode_png - ") + png.message);
    bytes out(size);
    if (!png_image_write_to_memory(&png, out.data(), &size, 0, image.pixels.data(), 0, nullptr))
        throw std::runtime_error(std::string("encode_png - ") + png.message);
    out.resize(size);
    return out;
}

} // namespace qm
