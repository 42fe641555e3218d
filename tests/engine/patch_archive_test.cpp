#include "engine/patch_archive.h"

#include "rom/rom_visitor.h"

#include "support/error_of.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

using test::error_of;

// Each record's room ends where the next one begins, the last one's at the string pool; the
// packed form round-trips, and however short its stream is cut, even shorter than the header,
// it is the decoder's failure.
TEST(patch_archive, builder_output_parses_back_and_packs_and_a_cut_stream_fails)
{
    archive_builder b;
    const std::uint32_t d = b.add_blob(bytes(5000, 0x41));
    b.add_file_record("/a/one.bin", {0, 0x1234, d});
    b.add_record(make_section_code(banner), {0, 0x55, d}); // does not take a path
    b.add_record(make_section_code(arm9_overlay, 3), {0, 0x66, d});
    b.add_file_record("/two.bin", {1, 7, 0x99, 4, 0xFFFFFFFF, d});
    b.set_total_steps(42);
    const bytes unpacked = b.build();
    std::vector<bytes> blobs = split_archive(unpacked);
    ASSERT_EQ(blobs.size(), 2u);
    EXPECT_EQ(blobs[1], bytes(5000, 0x41));
    archive_index index = parse_archive_index(blobs[0]);
    EXPECT_EQ(index.total_steps, 42u);
    ASSERT_EQ(index.records.size(), 4u);
    EXPECT_EQ(index.records[0].path, "/a/one.bin");
    EXPECT_EQ(index.records[1].path, std::nullopt);
    EXPECT_EQ(index.records[2].stored_key, 0x3000Au);
    EXPECT_EQ(index.records[3].path, "/two.bin");
    EXPECT_EQ(index.records[0].body.size(), 12u);
    EXPECT_EQ(index.records[3].body.size(), 24u);
    EXPECT_EQ(get_le32(index.records[3].body, 20), 1u);

    bytes packed = pack_archive(unpacked);
    EXPECT_EQ(get_le32(packed, 0), unpacked.size());
    EXPECT_EQ(unpack_archive(packed), unpacked);
    std::vector<bytes> cuts = {bytes(packed.begin(), packed.begin() + std::ssize(packed) / 2)};
    put_le32(packed, 0, 1000000); // the size of a real archive, whose stream would be far longer
    for (std::ptrdiff_t keep : {0, 4, 8, 9, 14})
        cuts.emplace_back(packed.begin(), packed.begin() + keep);
    // An unpacked size no LZMA stream of this length can produce is refused before allocating.
    cuts.push_back({0xFF, 0xFF, 0xFF, 0xFF, 0x5D, 0, 0, 1, 0, 0});
    for (const bytes& cut : cuts)
        EXPECT_EQ(error_of([&] { unpack_archive(cut); }), "Decompression of main archive failed")
            << cut.size();
}

TEST(patch_archive, lying_sizes_and_index_bounds_fail_cleanly)
{
    const auto fails = [](auto&& f) { return error_of(f).find("load_archive failed") != std::string::npos; };
    EXPECT_TRUE(fails([] {
        split_archive(bytes{0xFF, 0xFF, 0xFF, 0x0F, 0, 0, 0, 0});
    })); // blob count too large
    EXPECT_TRUE(fails([] { split_archive(bytes{1, 0, 0, 0, 100, 0, 0, 0, 1, 2, 3}); })); // blob past the end
    EXPECT_TRUE(fails([] { split_archive(bytes{0, 0, 0, 0}); }));                        // no blob at all
    const auto index = [](std::uint32_t count, std::uint32_t pool, std::vector<std::uint32_t> words,
                          std::string tail = "") {
        bytes b;
        for (std::uint32_t w : {count, pool, 0u})
            append_le32(b, w);
        for (auto w : words)
            append_le32(b, w);
        b.insert(b.end(), tail.begin(), tail.end());
        return [b] { parse_archive_index(b); };
    };
    EXPECT_TRUE(fails(index(5, 0, {})));                          // more records than words
    EXPECT_TRUE(fails(index(0, 100, {})));                        // pool offset past the blob
    EXPECT_TRUE(fails(index(1, 8, {1, 9, 0})));                   // record at word 1 needs bytes 4-11 of 8
    EXPECT_TRUE(fails(index(1, 8, {0, 6, 0}, "/no-terminator"))); // path runs off the blob
    EXPECT_FALSE(fails(index(1, 8, {0, 6, 0}, std::string("/ok\0", 4))));
    EXPECT_FALSE(fails(index(0, 0, {})));
}

} // namespace
} // namespace qm
