#include "ui/path_checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace qm::ui {
namespace {

namespace fs = std::filesystem;

class path_checks_fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("qm-path-checks-" + std::to_string(std::random_device{}()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "sub");
        std::ofstream(dir / "rom.nds") << "x";
        std::ofstream(dir / "other.nds") << "x";
    }
    void TearDown() override { fs::remove_all(dir); }
    std::optional<std::string> error(const fs::path& source, const fs::path& destination) const
    {
        return first_path_error(query_path_facts(dir / source, dir / destination));
    }
    fs::path dir;
};

TEST_F(path_checks_fixture, checks_come_in_order_with_their_messages)
{
    // A missing source wins even when the destination is a folder.
    EXPECT_EQ(error("missing.nds", "sub"), "Chemin du fichier source incorrect");
    EXPECT_EQ(error("sub", "out.nds"), "La source est un répertoire!");
    EXPECT_EQ(error("rom.nds", "sub"), "La destination est un répertoire!");
    EXPECT_EQ(error("rom.nds", "rom.nds"), "Les fichiers source et destination sont identiques!");
    EXPECT_EQ(error("rom.nds", "new.nds"), std::nullopt);
    EXPECT_EQ(error("rom.nds", "other.nds"), std::nullopt);
}

TEST_F(path_checks_fixture, same_file_is_found_through_links_and_dot_dot)
{
    fs::create_hard_link(dir / "rom.nds", dir / "hard.nds");
    EXPECT_TRUE(query_path_facts(dir / "rom.nds", dir / "hard.nds").same_file);
#ifndef _WIN32
    // Windows checks "\\?\" paths, which keep ".." literally; symbolic links need privileges there.
    fs::create_symlink(dir / "rom.nds", dir / "soft.nds");
    EXPECT_TRUE(query_path_facts(dir / "rom.nds", dir / "soft.nds").same_file);
    EXPECT_TRUE(query_path_facts(dir / "rom.nds", dir / "sub" / ".." / "rom.nds").same_file);
#endif
    EXPECT_FALSE(query_path_facts(dir / "rom.nds", dir / "other.nds").same_file);
}

} // namespace
} // namespace qm::ui
