// Font depth conversion of an NFTR font from anywhere. A converted font is as long as its
// header says, and its glyph block is described at one bit per pixel.

#include "engine/font_depth.h"
#include "fuzz_support.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    bytes font;
    if (!fuzz::attempt([&] { font = convert_font_to_1bpp(byte_span(data, size)); }))
        return 0;
    fuzz::expect(font.size() >= 0x3C && get_le32(font, 0x08) == font.size(),
                 "file size field differs from the length");
    fuzz::expect(get_u8(font, 0x3A) == 1, "converted font is not 1 bit per pixel");
    const std::uint32_t glyph_block = get_le32(font, 0x30);
    fuzz::expect(in_bounds(font.size(), 0x2C, glyph_block), "glyph block outside the converted font");
    return 0;
}
