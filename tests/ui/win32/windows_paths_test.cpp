// The Windows path checks, against the real file system (run under Wine here). Their order is
// tested by the portable path checks' tests, which run here with these queries too.
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
        dir = fs::temp_directory_path() / (std::string("qm-win-paths-") +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "rom.nds") << "rom";
        std::ofstream(dir / "other.nds") << "other";
    }
    void TearDown() override { fs::remove_all(dir); }
    std::wstring at(const wchar_t* name) const { return long_path((dir / name).wstring()); }
    bool same(const wchar_t* a, const wchar_t* b) const { return same_file(at(a), at(b)); }
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
    EXPECT_TRUE(same(L"rom.nds", L"rom.nds"));
    EXPECT_TRUE(same(L"rom.nds", L"ROM.NDS"));
    ASSERT_TRUE(CreateHardLinkW((dir / L"hard.nds").c_str(), (dir / L"rom.nds").c_str(), nullptr));
    EXPECT_TRUE(same(L"rom.nds", L"hard.nds"));
    EXPECT_FALSE(same(L"rom.nds", L"other.nds"));
    EXPECT_FALSE(same(L"rom.nds", L"missing.nds"));
    EXPECT_FALSE(same(L"missing.nds", L"rom.nds"));
    EXPECT_EQ(ui::first_path_error(ui::query_path_facts(dir / "rom.nds", dir / "ROM.nds")),
              "Les fichiers source et destination sont identiques!");
}

TEST_F(windows_paths_fixture, a_file_locked_against_readers_counts_as_another_file)
{
    HANDLE locked = CreateFileW((dir / L"other.nds").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(same(L"other.nds", L"other.nds"));
    CloseHandle(locked);
    EXPECT_TRUE(same(L"other.nds", L"other.nds"));
}

TEST_F(windows_paths_fixture, a_relative_source_is_refused_even_when_it_exists)
{
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    ASSERT_TRUE(fs::exists("rom.nds"));
    const ui::path_facts facts = ui::query_path_facts("rom.nds", dir / "new.nds");
    fs::current_path(previous);
    EXPECT_FALSE(facts.source_queried);
    EXPECT_EQ(ui::first_path_error(facts), "Chemin du fichier source incorrect");
}

} // namespace
} // namespace qm::win32
