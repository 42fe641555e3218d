// The whole path a user takes: the sample game patched through the engine and through
// quillmoor-patch, damaged or foreign sources, cancelling, and rebuilding the result.

#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "cpk/cpk_visit.h"
#include "engine/patcher.h"
#include "rom/nds_rom.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

struct job_result {
    std::string error; // empty on success
    recording_listener listener;
};

job_result patch_with_engine(const std::filesystem::path& source, const std::filesystem::path& dest,
                             std::function<void(patcher&, std::uint32_t)> on_section = {})
{
    job_result r;
    patcher p;
    if (on_section)
        r.listener.on_section = [&](std::uint32_t code) { on_section(p, code); };
    try {
        p.run_patch_job(source, dest, sample_patch().data(),
                        static_cast<std::uint32_t>(sample_patch().size()), r.listener);
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    return r;
}

// The sample's original with one byte changed.
std::filesystem::path damaged_copy(const scratch_dir& dir, std::size_t offset)
{
    bytes rom = read_whole_file(sample_original());
    rom.at(offset) ^= 0x01;
    const auto path = dir / "damaged.nds";
    write_whole_file(path, rom);
    return path;
}

TEST(end_to_end, engine_turns_the_original_into_the_translation)
{
    scratch_dir dir;
    const job_result r = patch_with_engine(sample_original(), dir / "out.nds");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(read_whole_file(dir / "out.nds"), read_whole_file(sample_translation()));
    EXPECT_TRUE(r.listener.finished_called);
    EXPECT_EQ(r.listener.total, 2490u);
    ASSERT_EQ(r.listener.positions.size(), 2490u);
    for (std::uint32_t i = 0; i < 2490; ++i)
        ASSERT_EQ(r.listener.positions[i], i);
}

TEST(end_to_end, quillmoor_patch_turns_the_original_into_the_translation)
{
    scratch_dir dir;
    std::string err;
    // The archive built into the program, then the same archive given as a file.
    ASSERT_EQ(
        run_program({patch_binary().string(), sample_original().string(), (dir / "a.nds").string()}, &err), 0)
        << err;
    EXPECT_EQ(read_whole_file(dir / "a.nds"), read_whole_file(sample_translation()));
    ASSERT_EQ(run_program({patch_binary().string(), sample_original().string(), (dir / "b.nds").string(),
                           "--archive", (sample_dir() / "patch.bin").string(), "--quiet"},
                          &err),
              0)
        << err;
    EXPECT_EQ(read_whole_file(dir / "b.nds"), read_whole_file(sample_translation()));
}

TEST(end_to_end, changed_byte_in_a_patched_section_is_refused)
{
    scratch_dir dir;
    const bytes rom = read_whole_file(sample_original());
    const auto source = damaged_copy(dir, get_le32(rom, 0x68) + 0x300); // a title of the banner
    const job_result r = patch_with_engine(source, dir / "out.nds");
    EXPECT_EQ(r.error, "patcher::visit - bad checksum");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.nds"));

    std::string err;
    EXPECT_EQ(
        run_program({patch_binary().string(), source.string(), (dir / "cli.nds").string(), "--quiet"}, &err),
        1);
    EXPECT_NE(err.find("Une erreur s'est produite:"), std::string::npos) << err;
    EXPECT_NE(err.find("patcher::visit - bad checksum"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(dir / "cli.nds"));
}

TEST(end_to_end, changed_byte_in_a_patched_archive_entry_is_refused)
{
    // An entry that the patch replaces whole, stored uncompressed, so that the damage reaches its
    // checksum rather than its decompression.
    const read_archive patch = read_patch(sample_patch());
    const bytes rom = read_whole_file(sample_original());
    nds_rom reader(sample_original());
    std::optional<std::size_t> offset;
    for (const read_record& r : patch.records)
        for (const read_entry& e : r.entries) {
            if (e.type != 2 || offset)
                continue;
            const std::uint32_t file = file_offset(rom, reader.get_file_id(r.path));
            const bytes archive = reader.read_file(reader.get_file_id(r.path));
            for (const cpk_entry& c : cpk_entries(archive))
                if (c.id == e.id && c.file_size == c.extract_size && c.file_size > 16)
                    offset = file + c.offset + c.file_size / 2;
        }
    ASSERT_TRUE(offset);
    scratch_dir dir;
    const job_result r = patch_with_engine(damaged_copy(dir, *offset), dir / "out.nds");
    EXPECT_EQ(r.error, "patcher::cpk_patcher::operator() - bad checksum");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.nds"));
}

TEST(end_to_end, changed_byte_in_an_unpatched_section_is_carried_through)
{
    const bytes rom = read_whole_file(sample_original());
    nds_rom reader(sample_original());
    const std::uint16_t id = reader.get_file_id("/sound/bgm/bgm000.sseq");
    const std::uint32_t inside = 7;
    scratch_dir dir;
    const job_result r = patch_with_engine(damaged_copy(dir, file_offset(rom, id) + inside), dir / "out.nds");
    ASSERT_EQ(r.error, "");

    const bytes out = read_whole_file(dir / "out.nds");
    bytes expected = read_whole_file(sample_translation());
    ASSERT_EQ(out.size(), expected.size());
    expected.at(file_offset(expected, id) + inside) ^= 0x01;
    EXPECT_EQ(out, expected);
}

TEST(end_to_end, another_game_is_refused)
{
    scratch_dir dir;
    bytes rom = read_whole_file(sample_original());
    rom[0x0F] = 'J'; // YQLJ
    write_whole_file(dir / "other.nds", rom);
    const job_result r = patch_with_engine(dir / "other.nds", dir / "out.nds");
    EXPECT_EQ(r.error, "Input is not a valid Quillmoor game");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.nds"));

    std::string err;
    EXPECT_EQ(run_program({patch_binary().string(), (dir / "other.nds").string(), (dir / "cli.nds").string()},
                          &err),
              1);
    EXPECT_NE(err.find("Input is not a valid Quillmoor game"), std::string::npos) << err;
}

TEST(end_to_end, cancelling_leaves_no_destination_and_keeps_an_existing_one)
{
    scratch_dir dir;
    const auto cancel_midway = [](patcher& p, std::uint32_t code) {
        if (section_kind_of(code) == section_kind::file && section_id_of(code) > 100)
            p.request_cancel();
    };
    job_result r = patch_with_engine(sample_original(), dir / "new.nds", cancel_midway);
    EXPECT_EQ(r.error, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "new.nds"));

    const bytes before = {1, 2, 3};
    write_whole_file(dir / "old.nds", before);
    r = patch_with_engine(sample_original(), dir / "old.nds", cancel_midway);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(read_whole_file(dir / "old.nds"), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "temporary files left";
}

TEST(end_to_end, rebuilding_the_translation_changes_nothing)
{
    scratch_dir dir;
    std::string err;
    ASSERT_EQ(run_program({tool_binary().string(), "rom-rebuild", sample_translation().string(),
                           (dir / "rebuilt.nds").string()},
                          &err),
              0)
        << err;
    EXPECT_EQ(read_whole_file(dir / "rebuilt.nds"), read_whole_file(sample_translation()));
}

} // namespace
} // namespace qm::test
