// Damaged copies of a game ROM through quillmoor-patch: each run ends with status 1, the reader's
// message and nothing at the destination. Each field on its own is checked by the ROM reader's
// tests; here, blocks cut short and the most extreme lies (sums that wrap).

#include "patch_process.h"
#include "rom/nds_format.h"

namespace qm {
namespace {

using malformed_rom = test::cli_fixture;

TEST_F(malformed_rom, damaged_roms_are_refused_with_the_readers_message_and_leave_nothing)
{
    const bytes original = read_whole_file(source);
    const auto field = [&](std::size_t at) { return get_le32(original, at); };
    const std::uint32_t fat = field(nds::hdr_fat_offset), size = static_cast<std::uint32_t>(original.size());
    std::vector<bytes> corpus;
    // The header, the FNT, the FAT and the banner cut short.
    for (const std::uint32_t cut :
         {0x100u, field(nds::hdr_fnt_offset) + field(nds::hdr_fnt_size) - 1,
          fat + field(nds::hdr_fat_size) / 2, field(nds::hdr_banner_offset) + nds::banner_length - 1})
        corpus.emplace_back(original.begin(), original.begin() + cut);
    const std::vector<std::vector<std::pair<std::size_t, std::uint32_t>>> lies = {
        {{nds::hdr_arm9_offset, 0xFFFFFFFF}, {nds::hdr_arm9_size, 0xFFFFFFFF}},
        {{nds::hdr_arm7_offset, 0x10}, {nds::hdr_arm7_size, 0xFFFFFFF8}},
        {{nds::hdr_fnt_offset, 0xFFFFFFFF}, {nds::hdr_fnt_size, 0xFFFFFFFF}},
        {{nds::hdr_fat_offset, size}, {nds::hdr_fat_size, 8}},
        {{nds::hdr_arm9_ovt_offset, 0xFFFFFFFF}, {nds::hdr_arm9_ovt_size, 0xFFFFFFFF}},
        {{nds::hdr_arm7_ovt_offset, 0xFFFFFFF0}, {nds::hdr_arm7_ovt_size, 0x20}},
        {{nds::hdr_banner_offset, 0xFFFFFFFF}},
        {{nds::hdr_header_size, size + 1}},
        {{fat, size + 1}},            // a FAT entry past the end
        {{fat, field(fat + 4) + 1}}}; // or ending before it starts
    for (const auto& fields : lies) {
        corpus.push_back(original);
        for (const auto& [at, value] : fields)
            put_le32(corpus.back(), at, value);
    }
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        SCOPED_TRACE(i);
        write_whole_file(source, corpus[i]);
        const test::patch_run r = run(source, destination, {}, {"--quiet"});
        // With --quiet, nothing before the message; then a blank line and the explanation.
        EXPECT_TRUE(r.exited && r.status == 1) << r.status << r.err;
        EXPECT_EQ(
            r.err.rfind(
                "Une erreur s'est produite:\n\nnds_rom::nds_rom - input file is not a valid NDS ROM\n\n", 0),
            0u)
            << r.err;
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "patch.bin"}));
    }
}

} // namespace
} // namespace qm
