// Damaged copies of a game ROM through quillmoor-patch: each run ends with status 1 and a message
// and leaves nothing at the destination (or, for a flip that still patches, a complete ROM).

#include "patch_process.h"
#include "rom/nds_format.h"
#include "tools/seeded_random.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr const char* not_a_rom = "nds_rom::nds_rom - input file is not a valid NDS ROM";

struct block {
    std::string name;
    std::uint32_t offset;
    std::uint32_t size;
};

class malformed_rom : public test::cli_fixture {
protected:
    void SetUp() override
    {
        cli_fixture::SetUp();
        original = read_whole_file(source);
    }

    // The header's blocks and every FAT entry's.
    std::vector<block> blocks() const
    {
        const auto field = [&](std::size_t at) { return get_le32(original, at); };
        std::vector<block> out = {
            {"header", 0, std::max<std::uint32_t>(field(nds::hdr_header_size), 0x180)},
            {"arm9", field(nds::hdr_arm9_offset), field(nds::hdr_arm9_size)},
            {"arm7", field(nds::hdr_arm7_offset), field(nds::hdr_arm7_size)},
            {"fnt", field(nds::hdr_fnt_offset), field(nds::hdr_fnt_size)},
            {"fat", field(nds::hdr_fat_offset), field(nds::hdr_fat_size)},
            {"arm9 overlay table", field(nds::hdr_arm9_ovt_offset), field(nds::hdr_arm9_ovt_size)},
            {"banner", field(nds::hdr_banner_offset), nds::banner_length},
        };
        const std::uint32_t fat = field(nds::hdr_fat_offset);
        for (std::uint32_t e = 0; e < field(nds::hdr_fat_size) / 8; ++e) {
            const std::uint32_t start = get_le32(original, fat + 8 * e);
            out.push_back({"file " + std::to_string(e), start, get_le32(original, fat + 8 * e + 4) - start});
        }
        return out;
    }

    // Runs the patch on `damaged`; true when it was refused properly, false when it patched
    // (allowed only when no message is expected).
    bool refused(const bytes& damaged, const std::string& expected_message)
    {
        write_whole_file(source, damaged);
        const test::patch_run r = run(source, destination, {}, {"--quiet"});
        EXPECT_TRUE(r.exited) << "killed by signal " << r.status;
        if (r.exited && r.status == 0 && expected_message.empty()) {
            EXPECT_NO_THROW(nds_rom{destination});
            fs::remove(destination);
            return false;
        }
        const std::string heading = "Une erreur s'est produite:\n\n";
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.err.rfind(heading, 0), 0u) << r.err; // with --quiet, nothing before it
        EXPECT_GT(r.err.size(), heading.size() + 1) << "no message";
        // The message exactly, then a blank line and the explanation for the player.
        EXPECT_TRUE(expected_message.empty() || r.err.rfind(heading + expected_message + "\n\n", 0) == 0)
            << r.err;
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "patch.bin"}));
        return true;
    }

    bytes original;
};

// Each block cut short, and header fields with the most extreme lies (sums that wrap); each field
// on its own is checked by the ROM reader's tests.
TEST_F(malformed_rom, cut_short_or_pointing_past_the_end)
{
    std::vector<std::pair<std::string, bytes>> corpus;
    for (const block& b : blocks())
        for (const std::uint32_t cut : {b.offset, b.offset + b.size / 2, b.offset + b.size - 1})
            if (b.size != 0)
                corpus.emplace_back(b.name + " cut at " + std::to_string(cut),
                                    bytes(original.begin(), original.begin() + cut));
    const auto lie = [&](std::vector<std::pair<std::size_t, std::uint32_t>> fields) {
        bytes damaged = original;
        for (const auto& [at, value] : fields)
            put_le32(damaged, at, value);
        corpus.emplace_back("field at " + std::to_string(fields[0].first), damaged);
    };
    for (const auto& [offset_field, size_field] :
         std::vector<std::pair<std::size_t, std::size_t>>{{nds::hdr_arm9_offset, nds::hdr_arm9_size},
                                                          {nds::hdr_arm7_offset, nds::hdr_arm7_size},
                                                          {nds::hdr_fnt_offset, nds::hdr_fnt_size},
                                                          {nds::hdr_fat_offset, nds::hdr_fat_size},
                                                          {nds::hdr_arm9_ovt_offset, nds::hdr_arm9_ovt_size},
                                                          {nds::hdr_arm7_ovt_offset, nds::hdr_arm7_ovt_size}})
        lie({{offset_field, 0xFFFFFFFF}, {size_field, 0xFFFFFFFF}});
    const auto size = static_cast<std::uint32_t>(original.size());
    const std::uint32_t fat = get_le32(original, nds::hdr_fat_offset);
    lie({{nds::hdr_banner_offset, 0xFFFFFFFFu}});
    lie({{nds::hdr_header_size, size + 1}});
    lie({{fat, size + 1}});                        // a FAT entry past the end
    lie({{fat, get_le32(original, fat + 4) + 1}}); // or ending before it starts
    for (const auto& [name, damaged] : corpus) {
        SCOPED_TRACE(name);
        refused(damaged, not_a_rom);
    }
}

TEST_F(malformed_rom, bits_flipped_in_the_tables)
{
    // Flips in the FNT, FAT and overlay table: every outcome but a crash or a half-written
    // destination is acceptable, and most flips must be refused.
    const std::vector<block> all = blocks();
    const std::vector<block> tables(all.begin() + 3, all.begin() + 6);
    seeded_random random(2024);
    int refusals = 0, runs = 0;
    for (const block& t : tables)
        for (int i = 0; i < 24; ++i, ++runs) {
            bytes damaged = original;
            const int flips = 1 + static_cast<int>(random.below(3));
            for (int f = 0; f < flips; ++f)
                damaged[t.offset + random.below(t.size)] ^= static_cast<std::uint8_t>(1u << random.below(8));
            SCOPED_TRACE(t.name + " variant " + std::to_string(i));
            refusals += refused(damaged, "");
        }
    EXPECT_GT(refusals, runs / 2);
}

} // namespace
} // namespace qm
