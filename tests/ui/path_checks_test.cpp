#include "ui/path_checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace qm::ui {
namespace {

namespace fs = std::filesystem;

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
#ifndef _WIN32
    // Windows checks "\\?\" paths, which keep ".." literally; symbolic links need privileges there.
    fs::create_symlink(dir / "rom.nds", dir / "soft.nds");
    EXPECT_EQ(error("rom.nds", "soft.nds"), same);
    EXPECT_EQ(error("rom.nds", fs::path("sub") / ".." / "rom.nds"), same);
#endif
    fs::remove_all(dir);
}

} // namespace
} // namespace qm::ui
