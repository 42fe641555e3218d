#pragma once
// A small game ROM with every kind of section, and the folder and helpers of the patch job's tests.

#include "common/file_io.h"
#include "engine/crc32.h"
#include "engine/patch_archive.h"
#include "engine/patcher.h"
#include "recording_listener.h"
#include "rom/nds_rom.h"
#include "support/error_of.h"
#include "tools/rom_image_builder.h"
#include "vcdiff/vcdiff_encoder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>

namespace qm::test {

namespace fs = std::filesystem;

inline bytes pattern(std::size_t n, std::uint8_t seed)
{
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>((i * 7 + seed) ^ (i >> 5));
    return b;
}

// A script container: a 32-byte head whose words at 24 and 28 delimit the text in UTF-16LE,
// `lead` bytes of other data before the text and `tail` bytes after it, which travel with it.
inline bytes script_container(const std::u16string& text, std::size_t lead = 0, std::size_t tail = 0)
{
    bytes c(32 + lead, 0xAB);
    put_le32(c, 24, static_cast<std::uint32_t>(c.size()));
    for (char16_t u : text)
        append_le16(c, u);
    put_le32(c, 28, static_cast<std::uint32_t>(c.size()));
    c.resize(c.size() + tail, 0xCD);
    return c;
}

inline rom_description game_description()
{
    rom_description d;
    d.title = "QLMOR";
    d.game_code = "YQLE";
    d.arm9 = pattern(3000, 1);
    d.arm9_footer = std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8};
    d.arm7 = pattern(1000, 2);
    d.arm9_overlays = {rom_overlay{.id = 0, .contents = pattern(700, 3)},
                       rom_overlay{.id = 3, .contents = bytes(4000, 0x20), .compressed = true}};
    d.banner = pattern(0x840, 4);
    d.root = {rom_fs_node::file("readme.txt", pattern(100, 5)),
              rom_fs_node::directory(
                  "data", {rom_fs_node::file("empty.bin"), rom_fs_node::file("story.bin", pattern(5000, 6)),
                           rom_fs_node::directory("more", {rom_fs_node::file("x.bin", pattern(9, 7))})})};
    return d;
}

class job_fixture : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    void write_game(const rom_description& d) { write_whole_file(source, build_rom_image(d).image); }

    // Runs a job; `hook` sees every listener call as it is written down.
    test::recording_listener run_job(const bytes& packed, patcher* engine = nullptr,
                                     std::function<void(patcher&, const std::string&)> hook = {})
    {
        patcher local;
        patcher& p = engine ? *engine : local;
        test::recording_listener l;
        if (hook)
            l.on_call = [&](const std::string& c) { hook(p, c); };
        p.run_patch_job(source, destination, packed, l);
        return l;
    }

    // The message a job ends with (empty when it succeeds); `l` keeps the calls it saw.
    std::string job_error(const bytes& packed, test::recording_listener& l, const fs::path& from = {})
    {
        patcher p;
        return error_of([&] { p.run_patch_job(from.empty() ? source : from, destination, packed, l); });
    }

    // A type 0 record turning `before` into `after`.
    static std::vector<std::uint32_t> delta_body(archive_builder& b, const bytes& before, const bytes& after)
    {
        return {0, crc32(before), b.add_blob(vcdiff_encode(before, after))};
    }

    // The game ROM and a packed archive (dir/patch.bin) that turns /readme.txt into "ok".
    fs::path write_game_and_readme_patch()
    {
        write_game(game_description());
        archive_builder b;
        b.add_file_record("/readme.txt", delta_body(b, pattern(100, 5), bytes{'o', 'k'}));
        b.set_total_steps(static_cast<std::uint32_t>(nds_rom(source).list_sections().size() + 1));
        fs::path archive = dir / "patch.bin";
        write_whole_file(archive, pack_archive(b.build()));
        return archive;
    }

    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // A random part keeps runs of the same test in different builds apart.
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path dir = fs::temp_directory_path() / ("qm-job-" + std::to_string(std::random_device{}()) + "-" +
                                                info->test_suite_name() + "-" + info->name());
    fs::path source = dir / "game.nds", destination = dir / "out.nds";
};

} // namespace qm::test
