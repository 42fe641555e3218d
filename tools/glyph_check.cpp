#include "tools/glyph_check.h"

#include "engine/script_font.h"

#include <algorithm>
#include <cstdio>

namespace qm {

namespace {

bool is_control(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

bool is_high_surrogate(char32_t c)
{
    return c >= 0xD800 && c < 0xDC00;
}

bool is_low_surrogate(char32_t c)
{
    return c >= 0xDC00 && c < 0xE000;
}

std::string utf8_of(char32_t c)
{
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

} // namespace

std::vector<missing_glyph> glyphs_missing_from_font(const char_index_map& index, byte_span container)
{
    const std::u16string text = script_text(container);
    std::vector<missing_glyph> missing;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (index.count(text[i]) != 0 || is_control(c))
            continue;
        // A character outside the Basic Multilingual Plane is two code units; the font, keyed by
        // single code units, has neither, so it is reported once as the character it is.
        if (is_high_surrogate(c) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        auto known = std::find_if(missing.begin(), missing.end(),
                                  [c](const missing_glyph& m) { return m.character == c; });
        if (known == missing.end())
            missing.push_back({c, 1});
        else
            ++known->count;
    }
    return missing;
}

std::string describe_character(char32_t character)
{
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(character));
    if (is_high_surrogate(character) || is_low_surrogate(character))
        return std::string(code) + " (a lone surrogate)";
    return utf8_of(character) + " " + code;
}

} // namespace qm
