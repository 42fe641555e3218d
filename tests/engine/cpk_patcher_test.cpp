#include "engine/cpk_patcher.h"

#include "cpk/cpk_builder.h"
#include "cpk/cpk_visit.h"
#include "engine/crc32.h"
#include "engine/font_depth.h"
#include "engine/patch_archive.h"
#include "engine/patcher.h"
#include "engine/script_font.h"
#include "recording_listener.h"
#include "vcdiff/vcdiff_encoder.h"

#include "support/error_of.h"

#include <gtest/gtest.h>

#include <map>

namespace qm {
namespace {

using test::error_of;

std::uint32_t crc_of(const bytes& b) { return crc32(b.data(), static_cast<std::uint32_t>(b.size())); }

// A script container: a 32-byte head whose words at 24 and 28 delimit UTF-16LE text.
bytes container(const std::u16string& text)
{
    bytes c(32, 0xAB);
    put_le32(c, 24, 32);
    put_le32(c, 28, static_cast<std::uint32_t>(32 + 2 * text.size()));
    for (char16_t u : text)
        append_le16(c, static_cast<std::uint16_t>(u));
    append_le32(c, 0xC0FFEE);
    return c;
}

// An old script entry: a 40-byte leading chunk whose word at 12 is its length, then anything.
bytes old_script(std::uint8_t fill)
{
    bytes b(40, fill);
    put_le32(b, 12, 40);
    b.resize(300, 0x77);
    return b;
}

bytes data_entry(std::size_t n, std::uint8_t seed)
{
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i / 3 + seed);
    return b;
}

std::map<std::uint32_t, bytes> entries_of(const bytes& archive)
{
    std::map<std::uint32_t, bytes> out;
    cpk_visit(archive, [&](std::uint32_t id, const std::uint8_t* d, std::uint32_t n) { out[id] = bytes(d, d + n); });
    return out;
}

bytes archive_of(const std::vector<bytes>& files)
{
    cpk_builder b;
    for (const bytes& f : files)
        b.add_file(f);
    return b.write();
}

struct harness {
    archive_builder archive;
    std::vector<std::uint32_t> list;
    patcher engine;
    test::recording_listener listener;
    bytes packed;
    std::uint32_t code = make_section_code(banner);

    bytes patch(const bytes& cpk)
    {
        archive.add_record(code, [&] {
            std::vector<std::uint32_t> body{1};
            body.insert(body.end(), list.begin(), list.end());
            return body;
        }());
        packed = pack_archive(archive.build());
        engine.attach(nullptr, &listener);
        engine.load_archive(packed.data(), static_cast<std::uint32_t>(packed.size()));
        return engine.visit(cpk, code);
    }
};

TEST(cpk_patcher, every_entry_type_and_an_appended_entry)
{
    const bytes font2 = build_font(used_chars(make_char_index(), container(u"Bonjour à tous")));
    std::vector<bytes> files = {old_script(1),         data_entry(2000, 3), font2,
                                font2,                 data_entry(100, 4),  data_entry(500, 5),
                                data_entry(50, 6),     old_script(2),       data_entry(10, 7)};
    const bytes cpk = archive_of(files);
    const bytes fr = container(u"« Œuvre », déjà — l’été…");
    const bytes fr2 = container(u"Déjà vu");
    bytes delta_target = files[1];
    delta_target[7] ^= 1;
    delta_target.resize(2100, 9);

    harness h;
    auto blob = [&](bytes b) { return h.archive.add_blob(std::move(b)); };
    h.list = {1, crc_of(files[0]), 0, blob(fr),                                       // script keeping 40 bytes
              2, crc_of(files[1]), 3, blob(vcdiff_encode(files[1], delta_target)),     // delta
              3, crc_of(font2),    4,                                                  // 1 bpp, three words
              4, crc_of(font2),    4,                                                  // same font again
              6, crc_of(files[5]), 2, blob(bytes{'n', 'e', 'w'}),                       // whole
              7, crc_of(files[6]), 5, blob(bytes{}),                                    // whole, empty
              8, crc_of(files[7]), 1, blob(fr2),                                        // script without prefix
              0xFFFFFFFF, blob(bytes(600, 0x41)),                                       // appended
              0xFFFFFFFF, blob(bytes{'z'})};
    h.archive.set_total_steps(100);
    std::map<std::uint32_t, bytes> got = entries_of(h.patch(cpk));

    ASSERT_EQ(got.size(), 11u);
    bytes prefix(files[0].begin(), files[0].begin() + 40);
    EXPECT_EQ(got[1], assemble_script_entry(prefix, 40, fr, build_font(used_chars(make_char_index(), fr))));
    EXPECT_EQ(got[2], delta_target);
    EXPECT_EQ(got[3], convert_font_to_1bpp(font2.data(), static_cast<std::uint32_t>(font2.size())));
    EXPECT_EQ(got[4], got[3]);
    EXPECT_EQ(got[5], files[4]);
    EXPECT_EQ(got[6], (bytes{'n', 'e', 'w'}));
    EXPECT_EQ(got[7], bytes{});
    EXPECT_EQ(got[8], assemble_script_entry({}, 0, fr2, build_font(used_chars(make_char_index(), fr2))));
    EXPECT_EQ(std::string(got[8].begin(), got[8].begin() + 4), std::string("DCM\0", 4));
    EXPECT_EQ(got[9], files[8]);
    EXPECT_EQ(got[10], bytes(600, 0x41));
    EXPECT_EQ(got[11], bytes{'z'});
    // One step per source entry, then one per appended entry, without gaps.
    EXPECT_EQ(h.listener.positions, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(cpk_patcher, a_list_of_append_items_only_keeps_every_entry)
{
    std::vector<bytes> files = {data_entry(10, 1), data_entry(400, 2), bytes{}};
    harness h;
    h.list = {0xFFFFFFFF, h.archive.add_blob(bytes{'a'})};
    std::map<std::uint32_t, bytes> got = entries_of(h.patch(archive_of(files)));
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[1], files[0]);
    EXPECT_EQ(got[2], files[1]);
    EXPECT_EQ(got[3], files[2]);
    EXPECT_EQ(got[4], bytes{'a'});
}

TEST(cpk_patcher, checksum_and_type_errors)
{
    std::vector<bytes> files = {data_entry(10, 1), data_entry(20, 2)};
    {
        harness h;
        h.list = {2, crc_of(files[1]) + 1, 2, h.archive.add_blob({})};
        EXPECT_EQ(error_of([&] { h.patch(archive_of(files)); }), "patcher::cpk_patcher::operator() - bad checksum");
    }
    {
        harness h;
        h.list = {1, crc_of(files[0]), 6, 0};
        EXPECT_EQ(error_of([&] { h.patch(archive_of(files)); }),
                  "patcher::cpk_patcher::operator() - unexpected patch type");
    }
    {
        harness h;
        h.list = {1, crc_of(files[0]), 3, h.archive.add_blob(bytes{0xD6, 0xC3, 0xC4, 0x00, 0x07})};
        EXPECT_EQ(error_of([&] { h.patch(archive_of(files)); }), "apply_patch - decoder failed");
    }
}

TEST(cpk_patcher, cancel_mid_walk_skips_the_rest_and_empties_the_file)
{
    std::vector<bytes> files = {data_entry(10, 1), data_entry(20, 2), data_entry(30, 3), data_entry(40, 4)};
    harness h;
    h.list = {0xFFFFFFFF, h.archive.add_blob(bytes{'a'})};
    h.listener.on_call = [&](const std::string& c) {
        if (c == "position 1")
            h.engine.request_cancel();
    };
    EXPECT_EQ(h.patch(archive_of(files)), bytes{});
    EXPECT_EQ(h.listener.positions, (std::vector<std::uint32_t>{0, 1}));
}

TEST(cpk_patcher, the_list_ends_where_the_next_record_begins)
{
    // The list names entry 1 only, and the next record's key is 2 (the ARM9 binary). Read without
    // an end, the walk would take that key for entry 2's list entry and the record's next words
    // for its checksum and type, and fail on a valid archive.
    std::vector<bytes> files = {data_entry(16, 1), data_entry(16, 2), data_entry(16, 3)};
    harness h;
    h.list = {1, crc_of(files[0]), 2, h.archive.add_blob(bytes{'!'})};
    h.archive.add_record(make_section_code(banner), [&] {
        std::vector<std::uint32_t> body{1};
        body.insert(body.end(), h.list.begin(), h.list.end());
        return body;
    }());
    std::map<std::uint32_t, bytes> got = entries_of([&] {
        h.archive.add_record(make_section_code(arm9), {0, 0x12345678, 1});
        h.packed = pack_archive(h.archive.build());
        h.engine.attach(nullptr, &h.listener);
        h.engine.load_archive(h.packed.data(), static_cast<std::uint32_t>(h.packed.size()));
        return h.engine.visit(archive_of(files), make_section_code(banner));
    }());
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1], bytes{'!'});
    EXPECT_EQ(got[2], files[1]);
    EXPECT_EQ(got[3], files[2]);
}

} // namespace
} // namespace qm
