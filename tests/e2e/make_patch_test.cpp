// Patch authoring: the sample's archive read back record by record, pairs that differ in each
// kind of way, and pairs that no patch can relate.

#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "cpk/cpk_builder.h"
#include "cpk/cpk_visit.h"
#include "engine/patch_archive.h"
#include "rom/nds_rom.h"
#include "support/error_of.h"
#include "tools/make_patch.h"
#include "tools/rom_description_generator.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

namespace qm::test {
namespace {

TEST(make_patch, sample_archive_has_the_shape_of_the_shipped_one_and_french_typography)
{
    const std::vector<bytes> blobs = split_archive(unpack_archive(sample_patch()));
    const archive_index index = parse_archive_index(blobs.at(0));
    EXPECT_EQ(std::pair(blobs.size(), index.total_steps), std::pair(std::size_t{704}, 2490u));
    std::multiset<std::uint32_t> non_file_keys;
    std::map<std::uint32_t, std::uint32_t> by_type, by_patch_type;
    std::size_t appended = 0;
    std::set<char16_t> used; // in the scripts (entry types 0 and 1)
    for (const archive_record& r : index.records) {
        const std::uint32_t patch_type = get_le32(r.body, 0);
        ++by_patch_type[patch_type];
        if ((r.stored_key & 0xFFFF) != 6) {
            EXPECT_EQ(patch_type, 0u);
            non_file_keys.insert(r.stored_key);
            continue;
        }
        EXPECT_EQ(r.stored_key, 6u) << "a file record's stored key has no file id";
        EXPECT_EQ(r.path.value_or("?").front(), '/');
        // A type 1 body: entries (id, crc, type, then a blob number unless type 4), then append
        // items (0xFFFFFFFF, blob number).
        for (std::size_t at = 4, previous = 0; patch_type == 1 && at + 4 <= r.body.size();) {
            const std::uint32_t id = get_le32(r.body, at);
            if (id == 0xFFFFFFFFu) {
                ++appended;
                at += 8;
                continue;
            }
            const std::uint32_t type = get_le32(r.body, at + 8);
            EXPECT_TRUE(at == 4 || id > previous) << *r.path << ": ids ascend";
            previous = id;
            ++by_type[type];
            at += type == 4 ? 12 : 16;
            if (type > 1)
                continue;
            const bytes& script = blobs.at(get_le32(r.body, at - 4));
            for (std::uint32_t c = get_le32(script, 24); c < get_le32(script, 28); c += 2)
                used.insert(static_cast<char16_t>(get_le16(script, c)));
        }
    }
    EXPECT_EQ(non_file_keys,
              (std::multiset<std::uint32_t>{2, 9, (3u << 16) | 10, (7u << 16) | 10, (10u << 16) | 10}));
    EXPECT_EQ(by_patch_type, (std::map<std::uint32_t, std::uint32_t>{{0, 6}, {1, 8}})); // 5 non-file, 1 file
    EXPECT_EQ(by_type,
              (std::map<std::uint32_t, std::uint32_t>{{0, 551}, {1, 12}, {2, 5}, {3, 126}, {4, 2}, {5, 2}}));
    EXPECT_EQ(appended, 1u);
    for (char16_t c : std::u16string(u"«»’—…œéèêàçùôîÉ\u00A0"))
        EXPECT_TRUE(used.count(c)) << "U+" << std::hex << static_cast<unsigned>(c);
}

// Passes every section through, except those `edit` changes.
struct editing_visitor : rom_visitor {
    std::function<void(bytes&, std::uint32_t)> edit;
    bytes visit(const bytes& contents, std::uint32_t code) override
    {
        bytes out = contents;
        edit(out, code);
        return out;
    }
    void enter_section(std::uint32_t) override {}
};

std::vector<bytes> entries_of(const bytes& archive)
{
    std::vector<bytes> out;
    cpk_visit(archive, [&](std::uint32_t, byte_span d) { out.emplace_back(d.begin(), d.end()); });
    return out;
}

bytes archive_of(const std::vector<bytes>& entries)
{
    cpk_builder b;
    for (const bytes& e : entries)
        b.add_file(e);
    return b.write();
}

TEST(make_patch, each_kind_of_difference_is_reproduced)
{
    scratch_dir dir;
    nds_rom rom(sample_original());
    const auto file = [&](const char* path) {
        return make_section_code(section_kind::file, rom.get_file_id(path));
    };
    const std::uint32_t menu = file("/ui/menu.cpk"), item = file("/data/item.cpk"),
                        monster = file("/data/monster.cpk"), sound = file("/sound/se/se001.swav");
    editing_visitor v;
    v.edit = [&](bytes& out, std::uint32_t code) {
        if (code == make_section_code(section_kind::arm7)) {
            out.insert(out.end(), 16, 0xA5); // grows
        } else if (code == make_section_code(section_kind::arm9_overlay, 0) ||
                   code == make_section_code(section_kind::arm9_overlay, 1)) { // plain, packed
            for (std::size_t i = 100; i < 140; ++i)
                out[i] ^= 0x5A;
        } else if (code == sound) {
            out.clear();
        } else if (code == menu) {
            std::vector<bytes> e = entries_of(out);
            e.push_back(bytes(300, 0x42)); // only an entry appended
            out = archive_of(e);
        } else if (code == item) {
            out = archive_of(entries_of(out));
            out[0x7F0] = 1; // not what the archive builder writes: patched as a whole file
        } else if (code == monster) {
            std::vector<bytes> e = entries_of(out);
            e.pop_back(); // entries removed: patched as a whole file
            out = archive_of(e);
        }
    };
    nds_rom(sample_original()).copy_to(dir / "variant.nds", v).commit();

    const authored_patch p = make_patch(sample_original(), dir / "variant.nds"); // verifies itself
    EXPECT_EQ(std::tuple(p.report.records, p.report.delta_records, p.report.entry_lists,
                         p.report.append_items, p.report.total_steps),
              std::tuple(7u, 6u, 1u, 1u, 370u + entries_of(rom.read_file(section_id_of(menu))).size() + 1));
    EXPECT_EQ(p.report.entries_by_type, (std::array<std::uint32_t, 6>{}));
    for (const char* start :
         {"ARM7 binary: delta", "OVL9-0001: delta", "OVL9-0000: delta", "/ui/menu.cpk: entry list, 0 of",
          "/data/item.cpk: delta", "/data/monster.cpk: delta", "/sound/se/se001.swav: delta"})
        EXPECT_TRUE(std::any_of(p.report.changes.begin(), p.report.changes.end(), [&](const std::string& c) {
            return c.rfind(start, 0) == 0;
        })) << start;

    // The translation is laid out by the ROM writer, so against itself it needs no record.
    const authored_patch none = make_patch(sample_translation(), sample_translation());
    EXPECT_EQ(std::tuple(none.report.records, none.report.blobs, none.report.total_steps),
              std::tuple(0u, 1u, 370u)); // 369 sections and the padding
}

TEST(make_patch, pairs_that_no_patch_relates_fail_loudly)
{
    scratch_dir dir;
    // Header fields outside the sections the writer rewrites cannot be patched.
    bytes translated = read_whole_file(sample_translation());
    translated[0x10] = 'Z'; // maker code
    write_whole_file(dir / "maker.nds", translated);
    const std::string maker = error_of([&] { make_patch(sample_original(), dir / "maker.nds"); });
    EXPECT_NE(maker.find("verification failed"), std::string::npos) << maker;
    EXPECT_NE(maker.find("offset 0x10 (Header)"), std::string::npos) << maker;
    // The original is not laid out the way the writer lays out a ROM.
    EXPECT_NE(error_of([] { make_patch(sample_original(), sample_original()); }), "");

    rom_description other = random_rom_description(5);
    other.title = "QLMOR";
    other.game_code = "YQLE";
    write_rom_image(other, dir / "other.nds");
    const std::string names = error_of([&] { make_patch(sample_original(), dir / "other.nds"); });
    EXPECT_NE(names.find("file names differ"), std::string::npos) << names;
}

} // namespace
} // namespace qm::test
