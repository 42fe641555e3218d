// A script container from anywhere through the script font builder: the used characters, the
// generated font and the assembled script entry. Input: u16 prefix length K, K bytes of the old
// entry's prefix, then the container.

#include "engine/script_font.h"
#include "engine/char_table.h"
#include "fuzz_support.h"

#include <algorithm>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char_index_map index = make_char_index();
    fuzz::input_reader in(data, size);
    const byte_span prefix = in.part();
    const byte_span container = in.rest();

    used_char_set used;
    if (!fuzz::attempt([&] { used = used_chars(index, container); }))
        return 0;
    const bytes font = build_font(used);
    fuzz::expect(font.size() >= 16 && get_le32(font, 8) == font.size(),
                 "font length differs from its header");
    const std::size_t glyphs = std::max<std::size_t>(used.count(), 1);
    // One glyph per used character (the space alone when none is used): the width block, right
    // after the glyph block, names the last glyph.
    const std::size_t width_block = 0x2C + std::size_t{get_le32(font, 0x30)};
    fuzz::expect(get_le16(font, width_block + 10) + std::size_t{1} == glyphs,
                 "glyph count differs from the characters used");

    const bytes entry =
        assemble_script_entry(prefix, static_cast<std::uint32_t>(prefix.size()), container, font);
    const std::size_t font_chunk = (16 + font.size() + 15) / 16 * 16;
    fuzz::expect(entry.size() == prefix.size() + container.size() + font_chunk + 32, "entry length");
    fuzz::expect(std::equal(prefix.begin(), prefix.end(), entry.begin()), "entry lost its prefix");
    fuzz::expect(std::equal(container.begin(), container.end(), entry.begin() + prefix.size() + 16),
                 "entry lost its script");
    return 0;
}
