#include "engine/script_font.h"

#include "engine/builtin_font.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qm {

namespace {

// Where a script container keeps the byte range of its text.
constexpr std::size_t text_start_field = 24;
constexpr std::size_t text_end_field = 28;
constexpr std::size_t container_min_size = text_end_field + 4;

// NFTR layout. Block offsets stored in the file point past the block's tag and size.
constexpr std::size_t block_tag_and_size = 8;
constexpr std::uint16_t byte_order_mark = 0xFEFF;
constexpr std::uint16_t nftr_version = 0x0101;
constexpr std::uint16_t file_header_size = 16;
constexpr std::uint32_t finf_size = 28;
constexpr std::size_t cglp_pos = file_header_size + finf_size; // 0x2C
constexpr std::uint32_t cglp_header_size = 16;
constexpr std::uint32_t cwdh_header_size = 16;
constexpr std::uint32_t cmap_header_size = 20;
constexpr std::uint8_t encoding_utf16 = 1;
constexpr std::uint8_t bits_per_pixel = 2;
constexpr std::uint32_t cmap_type_table = 1;
constexpr std::uint32_t cmap_type_scan = 2;
constexpr std::uint16_t no_glyph = 0xFFFF;

// An empty table map still needs a code range; it covers the space alone and maps it nowhere.
constexpr std::uint16_t empty_table_map_code = 0x0020;

// The baseline sits two rows above the tile's bottom, so a tile needs at least two rows for the
// baseline to lie inside it (only fonts of blank glyphs and underscores would have fewer).
constexpr std::uint8_t min_tile_height = 2;

// Chunk headers of a script entry: a tag, the payload length, the distance back to the previous
// chunk and the distance on to the next one.
constexpr std::uint32_t chunk_header_size = 16;
constexpr std::uint32_t chunk_align = 16;

void append_tag(bytes& out, const char* tag)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(tag[i]));
}

void put_chunk_header(bytes& out, std::size_t pos, const char* tag, std::uint32_t length, std::uint32_t back,
                      std::uint32_t next)
{
    std::copy(tag, tag + 4, out.begin() + static_cast<std::ptrdiff_t>(pos));
    put_le32(out, pos + 4, length);
    put_le32(out, pos + 8, back);
    put_le32(out, pos + 12, next);
}

void pad_to_even(std::vector<std::uint16_t>& values)
{
    if (values.size() % 2 != 0)
        values.push_back(0);
}

// The byte range of the container's text; `caller` names the operation in the messages.
std::pair<std::uint32_t, std::uint32_t> text_range(byte_span container, const char* caller)
{
    const auto fail = [caller](const char* reason) {
        return std::runtime_error(std::string(caller) + " - " + reason);
    };
    if (container.size() < container_min_size)
        throw fail("script container too short");
    const std::uint32_t start = get_le32(container, text_start_field);
    const std::uint32_t end = get_le32(container, text_end_field);
    if (end < start)
        throw fail("script text ends before it starts");
    if (end > container.size())
        throw fail("script text lies outside its container");
    return {start, end};
}

} // namespace

std::u16string script_text(byte_span container)
{
    const auto [start, end] = text_range(container, "script_text");
    std::u16string text;
    text.reserve((end - start) / 2);
    // Only whole code units count: a last single byte of an odd-length text is not one.
    for (std::size_t pos = start; end - pos >= 2; pos += 2)
        text.push_back(static_cast<char16_t>(get_le16(container, pos)));
    return text;
}

used_char_set used_chars(const char_index_map& index, byte_span container)
{
    const auto [start, end] = text_range(container, "used_chars");
    used_char_set used;
    for (std::size_t pos = start; end - pos >= 2; pos += 2) {
        auto it = index.find(get_le16(container, pos));
        if (it != index.end() && it->second < char_count)
            used.set(it->second);
    }
    return used;
}

bytes build_font(const used_char_set& used)
{
    std::vector<std::size_t> glyph_chars; // character index of each glyph, in glyph order
    for (std::size_t i = 0; i < char_count; ++i)
        if (used[i])
            glyph_chars.push_back(i);
    // A font without glyphs has no valid width range or error glyph; give it the blank space.
    if (glyph_chars.empty())
        glyph_chars.push_back(0);
    const auto glyph_count = static_cast<std::uint32_t>(glyph_chars.size());

    std::uint16_t table_first = 0, table_last = 0;
    std::vector<std::uint16_t> table_values;
    std::vector<std::uint16_t> scan_values{0}; // the pair count, then (code, glyph) pairs
    std::uint16_t scan_pairs = 0;
    std::uint8_t tile_width = 0, tile_height = 0, max_advance = 0;
    bytes width_entries;

    for (std::uint32_t g = 0; g < glyph_count; ++g) {
        std::size_t i = glyph_chars[g];
        std::uint16_t code = char_table[i];
        auto glyph = static_cast<std::uint16_t>(g);
        if (i < first_non_ascii_index) {
            if (table_values.empty()) {
                table_first = code;
            } else {
                for (std::uint32_t c = table_last + 1u; c < code; ++c)
                    table_values.push_back(no_glyph);
            }
            table_last = code;
            table_values.push_back(glyph);
        } else {
            scan_values.push_back(code);
            scan_values.push_back(glyph);
            ++scan_pairs;
        }
        const auto& m = glyph_metrics[i];
        tile_width = std::max(tile_width, m[1]);
        max_advance = std::max(max_advance, m[2]);
        tile_height = std::max(tile_height, glyph_heights[i]);
        width_entries.insert(width_entries.end(), m.begin(), m.end());
    }
    if (table_values.empty()) {
        // No character of 0x20..0x7E: the table map stays in the chain (the first map the header
        // points at), covering 0x0020 alone with no glyph for it.
        table_first = table_last = empty_table_map_code;
        table_values.push_back(no_glyph);
    }
    tile_height = std::max(tile_height, min_tile_height);
    pad_to_even(table_values);
    scan_values[0] = scan_pairs;
    pad_to_even(scan_values);
    width_entries.resize(round_up(width_entries.size(), 4), 0);

    // Glyph tiles: the bottom tile_height rows of each cell, tile_width pixels across, packed
    // 2 bits per pixel row after row with no padding between rows.
    const std::uint32_t tile_bytes = (2u * tile_width * tile_height + 7) / 8;
    bytes glyph_data(round_up(std::uint64_t{tile_bytes} * glyph_count, 4), 0);
    for (std::uint32_t g = 0; g < glyph_count; ++g) {
        const glyph_cell& cell = glyph_bitmaps[glyph_chars[g]];
        for (unsigned y = 0; y < tile_height; ++y)
            for (unsigned x = 0; x < tile_width; ++x) {
                unsigned p = y * tile_width + x;
                unsigned pixel = cell_pixel(cell, x, y + glyph_cell_size - tile_height);
                glyph_data[tile_bytes * g + 2 * p / 8] |=
                    static_cast<std::uint8_t>(pixel << (6 - (2 * p) % 8));
            }
    }

    const auto cglp_size = static_cast<std::uint32_t>(glyph_data.size() + cglp_header_size);
    const auto cwdh_size = static_cast<std::uint32_t>(width_entries.size() + cwdh_header_size);
    const auto table_size = static_cast<std::uint32_t>(cmap_header_size + 2 * table_values.size());
    const auto scan_size = static_cast<std::uint32_t>(cmap_header_size + 2 * scan_values.size());
    const bool has_scan_map = scan_pairs > 0;
    const std::uint32_t cwdh_pos = cglp_pos + cglp_size;
    const std::uint32_t table_pos = cwdh_pos + cwdh_size;
    const std::uint32_t scan_pos = table_pos + table_size;
    const std::uint32_t file_size = scan_pos + (has_scan_map ? scan_size : 0);

    bytes out;
    out.reserve(file_size);
    append_tag(out, "RTFN");
    append_le16(out, byte_order_mark);
    append_le16(out, nftr_version);
    append_le32(out, file_size);
    append_le16(out, file_header_size);
    append_le16(out, has_scan_map ? 5 : 4); // block count

    append_tag(out, "FNIF");
    append_le32(out, finf_size);
    out.push_back(0);           // font type
    out.push_back(tile_height); // line height
    append_le16(out, 0);        // error glyph
    out.push_back(0);           // default left offset
    out.push_back(tile_width);  // default glyph width
    out.push_back(tile_width);  // default advance
    out.push_back(encoding_utf16);
    append_le32(out, cglp_pos + block_tag_and_size);
    append_le32(out, cwdh_pos + block_tag_and_size);
    append_le32(out, table_pos + block_tag_and_size);

    append_tag(out, "PLGC");
    append_le32(out, cglp_size);
    out.push_back(tile_width);
    out.push_back(tile_height);
    append_le16(out, static_cast<std::uint16_t>(tile_bytes));
    out.push_back(static_cast<std::uint8_t>(tile_height - 2)); // baseline
    out.push_back(max_advance);
    out.push_back(bits_per_pixel);
    out.push_back(0); // flags
    append_bytes(out, glyph_data);

    append_tag(out, "HDWC");
    append_le32(out, cwdh_size);
    append_le16(out, 0);                                           // first glyph
    append_le16(out, static_cast<std::uint16_t>(glyph_count - 1)); // last glyph
    append_le32(out, 0);                                           // next width block
    append_bytes(out, width_entries);

    append_tag(out, "PAMC");
    append_le32(out, table_size);
    append_le16(out, table_first);
    append_le16(out, table_last);
    append_le32(out, cmap_type_table);
    append_le32(out, has_scan_map ? scan_pos + block_tag_and_size : 0);
    for (std::uint16_t v : table_values)
        append_le16(out, v);

    if (has_scan_map) {
        append_tag(out, "PAMC");
        append_le32(out, scan_size);
        append_le16(out, 0);      // first code
        append_le16(out, 0xFFFF); // last code
        append_le32(out, cmap_type_scan);
        append_le32(out, 0); // next map
        for (std::uint16_t v : scan_values)
            append_le16(out, v);
    }
    return out;
}

bytes assemble_script_entry(byte_span prefix, std::uint32_t prefix_length, byte_span container,
                            byte_span font)
{
    if (prefix.size() < prefix_length)
        throw std::runtime_error("assemble_script_entry - prefix shorter than its length");
    const std::uint64_t script_length = container.size();
    const std::uint64_t font_length = font.size();
    const std::uint64_t font_chunk = round_up(chunk_header_size + font_length, chunk_align); // T
    const std::uint64_t total = prefix_length + script_length + font_chunk + 2 * chunk_header_size;
    if (total > 0xFFFFFFFFu)
        throw std::runtime_error("assemble_script_entry - script entry too large");
    const auto ls = static_cast<std::uint32_t>(script_length);
    const auto t = static_cast<std::uint32_t>(font_chunk);

    bytes out(total, 0);
    std::copy_n(prefix.begin(), prefix_length, out.begin());
    std::size_t pos = prefix_length;
    put_chunk_header(out, pos, "DCM\0", ls, prefix_length, ls + chunk_header_size);
    std::copy(container.begin(), container.end(),
              out.begin() + static_cast<std::ptrdiff_t>(pos + chunk_header_size));
    pos += chunk_header_size + ls;
    put_chunk_header(out, pos, "TFN\0", static_cast<std::uint32_t>(font_length), ls + chunk_header_size, t);
    std::copy(font.begin(), font.end(), out.begin() + static_cast<std::ptrdiff_t>(pos + chunk_header_size));
    pos += t;
    put_chunk_header(out, pos, "DNE\0", 0, t, 0);
    return out;
}

} // namespace qm
