// The portable parts of the patcher window: the progress dialog's texts and the path checks
// (against the real file system, with the queries of the platform the tests run on).
#include "ui/path_checks.h"
#include "ui/progress_state.h"

#include "rom/rom_visitor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace qm::ui {
namespace {

namespace fs = std::filesystem;

TEST(section_label, names_every_kind)
{
    const char* const kinds[] = {"Padding", "Header", "ARM9 binary", "ARM7 binary", "FNT",
                                 "FAT",     "",       "ARM9 OVT",    "ARM7 OVT",    "Banner"};
    for (std::uint32_t code = 0; code < std::size(kinds); ++code)
        EXPECT_EQ(section_label(code, nullptr), kinds[code]) << code;
    EXPECT_EQ(section_label(make_section_code(arm9_overlay, 12), nullptr), "OVL9-0012");
    EXPECT_EQ(section_label(make_section_code(file, 12), "data/x.cpk"), "data/x.cpk");
    EXPECT_EQ(section_label(12, nullptr), std::nullopt);
}

TEST(progress_state, shows_floored_percentages_freezes_on_cancel_and_words_results_and_errors)
{
    const std::string caption = "Application du patch en cours... ";
    progress_state s;
    s.set_total(100);
    EXPECT_EQ(s.position(0, false), caption + "(0%)");
    EXPECT_EQ(s.position(0, false), caption + "(0%)"); // 0 always rewrites
    // The double quotient times 100 falls just below the whole number.
    EXPECT_EQ(s.position(29, false), caption + "(28%)");
    EXPECT_EQ(s.position(30, false), caption + "(30%)");
    EXPECT_EQ(s.position(30, false), std::nullopt);
    EXPECT_EQ(s.position(100, false), caption + "(100%)");
    // A cancel freezes the caption, the bar and the status line.
    EXPECT_EQ(s.position(50, true), std::nullopt);
    EXPECT_EQ(s.bar_position(), 100u);
    EXPECT_EQ(progress_state::status("FNT", true), std::nullopt);
    EXPECT_EQ(progress_state::status("FNT", false), "FNT");
    progress_state zero; // no total: 0 %, no division by zero
    EXPECT_EQ(zero.position(0, false), caption + "(0%)");
    EXPECT_EQ(zero.position(7, false), std::nullopt);
    EXPECT_EQ(zero.bar_position(), 7u);
    EXPECT_EQ(progress_state::result(false, false), 0);
    EXPECT_EQ(progress_state::result(true, false), -1);
    EXPECT_EQ(progress_state::result(false, true), -1);
    EXPECT_EQ(error_text("patcher::visit - bad checksum"),
              "Une erreur s'est produite:\n\npatcher::visit - bad checksum");
}

TEST(path_checks, come_in_order_with_their_messages_and_see_one_file_through_links)
{
    const fs::path dir =
        fs::temp_directory_path() / ("qm-path-checks-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "rom.nds") << "x";
    std::ofstream(dir / "other.nds") << "x";
    fs::create_hard_link(dir / "rom.nds", dir / "hard.nds");
    const auto error = [&](const fs::path& source, const fs::path& destination) {
        return first_path_error(query_path_facts(dir / source, dir / destination));
    };
    const std::string same = "Les fichiers source et destination sont identiques!";
    // A missing source wins even when the destination is a folder.
    EXPECT_EQ(error("missing.nds", "sub"), "Chemin du fichier source incorrect");
    EXPECT_EQ(error("sub", "out.nds"), "La source est un répertoire!");
    EXPECT_EQ(error("rom.nds", "sub"), "La destination est un répertoire!");
    EXPECT_EQ(error("rom.nds", "rom.nds"), same);
    EXPECT_EQ(error("rom.nds", "hard.nds"), same);
    EXPECT_EQ(error("rom.nds", "new.nds"), std::nullopt);
    EXPECT_EQ(error("rom.nds", "other.nds"), std::nullopt);
    fs::remove_all(dir);
}

} // namespace
} // namespace qm::ui
