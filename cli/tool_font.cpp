// Font commands: the built-in font's tables, fonts generated for scripts, depth conversion and
// previews.

#include "cli/tool_command.h"
#include "common/file_io.h"
#include "engine/builtin_font.h"
#include "engine/font_depth.h"
#include "engine/script_font.h"
#include "tools/font_preview.h"

#include <limits>

namespace qm::cli {

namespace {

constexpr unsigned default_preview_scale = 4;

int font_table(const args& a)
{
    expect_args(a, 1, 1);
    bytes out;
    for (std::size_t i = 0; i < char_count; ++i) {
        out.insert(out.end(), glyph_metrics[i].begin(), glyph_metrics[i].end());
        out.push_back(glyph_heights[i]);
        out.insert(out.end(), glyph_bitmaps[i].begin(), glyph_bitmaps[i].end());
    }
    write_whole_file(a[0], out);
    return 0;
}

int font_build(const args& a)
{
    expect_args(a, 2, 2);
    used_char_set used;
    if (a[0] == "--all")
        used.set();
    else
        used = used_chars(make_char_index(), read_whole_file(a[0]));
    write_whole_file(a[1], build_font(used));
    return 0;
}

int font_1bpp(const args& a)
{
    expect_args(a, 2, 2);
    bytes in = read_whole_file(a[0]);
    if (in.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::runtime_error("font too large");
    write_whole_file(a[1], convert_font_to_1bpp(in));
    return 0;
}

int font_preview(const args& a)
{
    expect_args(a, 2, 4);
    unsigned scale = default_preview_scale;
    if (a.size() != 2) {
        if (a.size() != 4 || a[2] != "--scale")
            throw usage_error("unknown option");
        std::uint64_t s = parse_number(a[3]);
        if (s == 0 || s > 32)
            throw usage_error("scale must lie between 1 and 32");
        scale = static_cast<unsigned>(s);
    }
    nftr_font font = read_nftr(read_whole_file(a[0]));
    write_whole_file(a[1], encode_png(render_font_preview(font, scale)));
    return 0;
}

const tool_command commands[] = {
    {"font-table", "OUT", "the built-in font: 182 records of metrics (3), height (1), cell (36)", font_table,
     "OUT  the file to write", "OUT: 182 records of 40 bytes, in the order of the font's character table",
     nullptr, "quillmoor-tool font-table builtin.bin"},
    {"font-build", "CONTAINER|--all OUT", "the font generated for a script container (or every character)",
     font_build,
     "CONTAINER  a script container (the text between the offsets at bytes 24 and 28)\n--all      every "
     "character of the built-in font instead\nOUT        the NFTR font to write",
     "OUT: the font the patch job generates for that script; characters the built-in font lacks\n"
     "get no glyph (make-patch lists them)",
     nullptr, "quillmoor-tool font-build script.bin script.nftr"},
    {"font-1bpp", "IN OUT", "converts an NFTR font to 1 bit per pixel", font_1bpp,
     "IN   an NFTR font\nOUT  the font to write", "OUT, the same glyphs at one bit per pixel", nullptr,
     "quillmoor-tool font-1bpp font.nftr font-1bpp.nftr"},
    {"font-preview", "FONT.nftr OUT.png [--scale N]", "draws a font's glyphs and sample text to a PNG",
     font_preview,
     "FONT.nftr   an NFTR font\nOUT.png     the picture to write\n--scale N   pixels per font pixel, 1 to 32 "
     "(4 "
     "when not given)",
     "OUT.png: every glyph of the font and a French sample sentence", nullptr,
     "quillmoor-tool font-preview script.nftr preview.png --scale 6"},
};

} // namespace

std::span<const tool_command> font_tool_commands()
{
    return commands;
}

} // namespace qm::cli
