// The Windows path checks, against the real file system (run under Wine here).
#include "ui/path_checks.h"
#include "ui/win32/windows_paths.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

namespace qm::win32 {
namespace {

namespace fs = std::filesystem;

class windows_paths_fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / (std::string("qm-win-paths-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "sub");
        std::ofstream(dir / "rom.nds") << "rom";
        std::ofstream(dir / "other.nds") << "other";
    }
    void TearDown() override { fs::remove_all(dir); }
    std::wstring at(const wchar_t* name) const { return (dir / name).wstring(); }
    fs::path dir;
};

TEST(long_path, prefixes_any_path_unchanged)
{
    EXPECT_EQ(long_path(L"C:\\jeux\\rom.nds"), L"\\\\?\\C:\\jeux\\rom.nds");
    EXPECT_EQ(long_path(L"rom.nds"), L"\\\\?\\rom.nds");
    EXPECT_EQ(long_path(L""), L"\\\\?\\");
}

TEST_F(windows_paths_fixture, same_file_sees_through_spellings_and_hard_links)
{
    EXPECT_TRUE(same_file(long_path(at(L"rom.nds")), long_path(at(L"rom.nds"))));
    std::wstring upper = at(L"ROM.NDS");
    EXPECT_TRUE(same_file(long_path(at(L"rom.nds")), long_path(upper)));
    ASSERT_TRUE(CreateHardLinkW(at(L"hard.nds").c_str(), at(L"rom.nds").c_str(), nullptr));
    EXPECT_TRUE(same_file(long_path(at(L"rom.nds")), long_path(at(L"hard.nds"))));
    EXPECT_FALSE(same_file(long_path(at(L"rom.nds")), long_path(at(L"other.nds"))));
    EXPECT_FALSE(same_file(long_path(at(L"rom.nds")), long_path(at(L"missing.nds"))));
    EXPECT_FALSE(same_file(long_path(at(L"missing.nds")), long_path(at(L"rom.nds"))));
}

TEST_F(windows_paths_fixture, a_file_locked_against_readers_counts_as_another_file)
{
    HANDLE locked = CreateFileW(at(L"other.nds").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(same_file(long_path(at(L"other.nds")), long_path(at(L"other.nds"))));
    CloseHandle(locked);
    EXPECT_TRUE(same_file(long_path(at(L"other.nds")), long_path(at(L"other.nds"))));
}

TEST_F(windows_paths_fixture, checks_run_on_extended_paths_in_their_order)
{
    using ui::first_path_error;
    using ui::query_path_facts;
    EXPECT_EQ(first_path_error(query_path_facts(dir / "missing.nds", dir / "sub")), "Chemin du fichier source incorrect");
    EXPECT_EQ(first_path_error(query_path_facts(dir / "sub", dir / "out.nds")), "La source est un répertoire!");
    EXPECT_EQ(first_path_error(query_path_facts(dir / "rom.nds", dir / "sub")), "La destination est un répertoire!");
    EXPECT_EQ(first_path_error(query_path_facts(dir / "rom.nds", dir / "ROM.nds")),
              "Les fichiers source et destination sont identiques!");
    EXPECT_EQ(first_path_error(query_path_facts(dir / "rom.nds", dir / "new.nds")), std::nullopt);
    EXPECT_EQ(first_path_error(query_path_facts(dir / "rom.nds", dir / "other.nds")), std::nullopt);
}

TEST_F(windows_paths_fixture, a_relative_source_is_refused_even_when_it_exists)
{
    fs::path previous = fs::current_path();
    fs::current_path(dir);
    ASSERT_TRUE(fs::exists("rom.nds"));
    auto facts = ui::query_path_facts("rom.nds", dir / "new.nds");
    fs::current_path(previous);
    EXPECT_FALSE(facts.source_queried);
    EXPECT_EQ(ui::first_path_error(facts), "Chemin du fichier source incorrect");
}

} // namespace
} // namespace qm::win32
