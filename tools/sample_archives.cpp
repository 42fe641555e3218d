#include "tools/sample_archives.h"

#include "cpk/cpk_builder.h"
#include "engine/char_table.h"
#include "engine/font_depth.h"
#include "engine/script_font.h"
#include "tools/sample_data.h"
#include "tools/sample_text.h"

#include <algorithm>

namespace qm {

namespace {

enum class role : std::uint8_t {
    scene_script,  // changed, keeps its scene chunk
    bare_script,   // changed, no scene chunk
    kept_script,   // left in English (debug scenes)
    table_changed, // names of a data table translated in place
    replaced,      // new contents unrelated to the old ones
    placeholder,   // empty in the original, filled by the translation
    font_redrawn,  // the shared 2-bit font, redrawn at 1 bit per pixel
    font_kept,     // other fonts, unchanged
    bulk,          // unchanged data
};

struct archive_shape {
    const char* path;
    std::uint32_t scene_scripts, bare_scripts, kept_scripts, tables_changed, replaced, placeholders,
        fonts_redrawn, fonts_kept, bulk;
    bool gets_appended_entry;
};

// Counts per archive; the totals are what the translation of the real game changes.
constexpr archive_shape shapes[] = {
    {"script/event.cpk", 200, 4, 6, 0, 0, 0, 0, 0, 150, false},
    {"script/field.cpk", 180, 4, 4, 0, 0, 0, 0, 0, 170, false},
    {"script/battle.cpk", 100, 2, 4, 40, 0, 0, 0, 0, 180, false},
    {"script/system.cpk", 71, 2, 2, 0, 0, 0, 0, 0, 200, true},
    {"ui/menu.cpk", 0, 0, 0, 40, 2, 1, 0, 0, 220, false},
    {"font/font.cpk", 0, 0, 0, 0, 0, 0, 2, 4, 61, false},
    {"data/item.cpk", 0, 0, 0, 30, 2, 1, 0, 0, 230, false},
    {"data/monster.cpk", 0, 0, 0, 16, 1, 0, 0, 0, 190, false},
};

constexpr std::uint32_t entry_count(const archive_shape& s)
{
    return s.scene_scripts + s.bare_scripts + s.kept_scripts + s.tables_changed + s.replaced +
           s.placeholders + s.fonts_redrawn + s.fonts_kept + s.bulk;
}

constexpr std::uint32_t bulk_entry_count()
{
    std::uint32_t n = 0;
    for (const archive_shape& s : shapes)
        n += s.bulk;
    return n;
}

// Stream purposes (see sample_stream).
constexpr std::uint64_t roles_purpose = 0x100;
constexpr std::uint64_t bulk_purpose = 0x200;
constexpr std::uint64_t fonts_purpose = 0x300;

constexpr std::uint32_t data_record_length = 64;
constexpr std::uint32_t data_name_units = 12;

// "SCN\0", payload length, 0 (nothing before it), distance to the next chunk; then the payload:
// the scene number and its commands, padded to 16 bytes.
bytes scene_chunk(std::uint32_t scene, byte_span commands)
{
    const auto payload = static_cast<std::uint32_t>(4 + commands.size());
    const auto length = static_cast<std::uint32_t>(16 + round_up(payload, 16));
    bytes chunk(length, 0);
    const char tag[4] = {'S', 'C', 'N', '\0'};
    std::copy(tag, tag + 4, chunk.begin());
    put_le32(chunk, 4, payload);
    put_le32(chunk, 8, 0);
    put_le32(chunk, 12, length);
    put_le32(chunk, 16, scene);
    std::copy(commands.begin(), commands.end(), chunk.begin() + 20);
    return chunk;
}

bytes script_entry(const char_index_map& index, byte_span prefix, byte_span container)
{
    return assemble_script_entry(prefix, static_cast<std::uint32_t>(prefix.size()), container,
                                 build_font(used_chars(index, container)));
}

class archive_maker {
public:
    explicit archive_maker(std::uint64_t seed)
        : random_stream(sample_stream(seed, roles_purpose)), index(make_char_index())
    {
        seeded_random fonts = sample_stream(seed, fonts_purpose);
        shared_font = build_font(font_set(fonts, 100));
        for (int i = 0; i < 4; ++i)
            other_fonts.push_back(build_font(font_set(fonts, 40 + 20 * i)));
    }

    sample_archive make(const archive_shape& shape)
    {
        std::vector<role> roles;
        const auto add = [&](role r, std::uint32_t n) { roles.insert(roles.end(), n, r); };
        add(role::scene_script, shape.scene_scripts);
        add(role::bare_script, shape.bare_scripts);
        add(role::kept_script, shape.kept_scripts);
        add(role::table_changed, shape.tables_changed);
        add(role::replaced, shape.replaced);
        add(role::placeholder, shape.placeholders);
        add(role::font_redrawn, shape.fonts_redrawn);
        add(role::font_kept, shape.fonts_kept);
        add(role::bulk, shape.bulk);
        for (std::size_t i = roles.size(); i > 1; --i)
            std::swap(roles[i - 1], roles[random_stream.below(i)]);

        sample_archive archive;
        archive.path = shape.path;
        std::size_t kept_font = 0;
        for (role r : roles) {
            if (r == role::font_kept)
                archive.entries.push_back({other_fonts.at(kept_font++ % other_fonts.size()), std::nullopt});
            else
                archive.entries.push_back(entry(r));
        }
        if (shape.gets_appended_entry) {
            // The translators' own scene, in French only.
            const std::uint32_t scene = next_scene++;
            bytes commands = random_stream.fill(48);
            archive.appended.push_back(script_entry(
                index, {}, make_script_container(scene, french_lines(random_stream, 6), commands)));
        }
        return archive;
    }

private:
    // A character set for a font: every ASCII character and `extra` others.
    static used_char_set font_set(seeded_random& random, std::size_t extra)
    {
        used_char_set set;
        for (std::size_t i = 0; i < first_non_ascii_index; ++i)
            set.set(i);
        for (std::size_t k = 0; k < extra; ++k)
            set.set(first_non_ascii_index + random.below(char_count - first_non_ascii_index));
        return set;
    }

    sample_entry entry(role r)
    {
        switch (r) {
        case role::scene_script:
        case role::bare_script:
        case role::kept_script:
            return script(r);
        case role::table_changed:
            return table();
        case role::replaced:
            return {random_stream.fill(random_stream.between(400, 1600)),
                    random_stream.fill(random_stream.between(400, 1600))};
        case role::placeholder:
            return {bytes{}, random_stream.fill(random_stream.between(100, 700))};
        case role::font_redrawn: {
            bytes redrawn = convert_font_to_1bpp(shared_font);
            return {shared_font, std::move(redrawn)};
        }
        case role::font_kept:
            break;
        case role::bulk:
            return {bytes{}, std::nullopt, true};
        }
        return {};
    }

    sample_entry script(role r)
    {
        const std::uint32_t scene = next_scene++;
        const auto line_count = static_cast<std::size_t>(random_stream.between(4, 12));
        const bytes commands = random_stream.fill(random_stream.between(32, 192));
        const bytes prefix = r == role::bare_script ? bytes{} : scene_chunk(scene, commands);
        const bytes english =
            make_script_container(scene, english_lines(random_stream, line_count), commands);
        const bytes french = make_script_container(scene, french_lines(random_stream, line_count), commands);
        sample_entry e{script_entry(index, prefix, english), std::nullopt};
        if (r != role::kept_script)
            e.translated = script_entry(index, prefix, french);
        return e;
    }

    // Records of a 12-unit UTF-16 name and 40 bytes of numbers; the translation renames about
    // half of them in place and keeps the numbers.
    sample_entry table()
    {
        const auto records = static_cast<std::size_t>(random_stream.between(16, 64));
        bytes original = bulk_data(random_stream, bulk_kind::table, records * data_record_length);
        bytes translated = original;
        for (std::size_t i = 0; i < records; ++i) {
            const std::size_t at = i * data_record_length;
            put_utf16_field(original, at, english_name(random_stream), data_name_units);
            const bool renamed = i == 0 || random_stream.chance(50);
            const std::u16string french = french_name(random_stream);
            std::copy_n(original.begin() + static_cast<std::ptrdiff_t>(at), 2 * data_name_units,
                        translated.begin() + static_cast<std::ptrdiff_t>(at));
            if (renamed)
                put_utf16_field(translated, at, french, data_name_units);
        }
        return {std::move(original), std::move(translated)};
    }

    seeded_random random_stream;
    char_index_map index;
    bytes shared_font;
    std::vector<bytes> other_fonts;
    std::uint32_t next_scene = 1;
};

} // namespace

std::vector<sample_archive> make_sample_archives(std::uint64_t seed)
{
    archive_maker maker(seed);
    std::vector<sample_archive> out;
    for (const archive_shape& shape : shapes)
        out.push_back(maker.make(shape));
    return out;
}

void fill_bulk_entries(std::vector<sample_archive>& archives, std::uint64_t seed, std::uint64_t bulk_bytes)
{
    seeded_random random = sample_stream(seed, bulk_purpose);
    // A few entries are tiny (stored as they are) or empty, so that every storage case occurs.
    const std::uint64_t average = std::max<std::uint64_t>(1024, bulk_bytes / bulk_entry_count());
    for (sample_archive& archive : archives)
        for (sample_entry& e : archive.entries) {
            if (!e.bulk)
                continue;
            const auto r = random.below(100);
            const bulk_kind kind = any_bulk_kind(random);
            if (r == 0)
                e.original.clear();
            else if (r < 9)
                e.original = bulk_data(random, kind, random.between(1, 383));
            else
                e.original = bulk_data(random, kind, random.between(average / 4, average * 7 / 4));
        }
}

std::uint32_t sample_archive_entry_count()
{
    std::uint32_t n = 0;
    for (const archive_shape& s : shapes)
        n += entry_count(s);
    return n;
}

bytes build_original_archive(const sample_archive& archive)
{
    cpk_builder builder;
    for (const sample_entry& e : archive.entries)
        builder.add_file(e.original);
    return builder.write();
}

bytes build_translated_archive(const sample_archive& archive)
{
    cpk_builder builder;
    for (const sample_entry& e : archive.entries)
        builder.add_file(e.translated ? *e.translated : e.original);
    for (const bytes& extra : archive.appended)
        builder.add_file(extra);
    return builder.write();
}

} // namespace qm
