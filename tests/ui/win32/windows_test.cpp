// The Windows text conversions and path checks, against the real file system (run under Wine
// here). The checks' order is tested by the portable tests, which run here with these queries.
#include "ui/path_checks.h"
#include "ui/win32/wide_text.h"
#include "ui/win32/windows_paths.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

namespace qm::win32 {
namespace {

namespace fs = std::filesystem;

TEST(wide_text, keeps_french_accents_and_reads_engine_texts_in_the_threads_ansi_code_page)
{
    EXPECT_EQ(from_utf8("La source est un répertoire!"), L"La source est un r\u00e9pertoire!");
    // One byte above 0x7F: whatever the code page makes of it, it is one character, as the
    // system's own conversion says.
    wchar_t expected[2] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "\xe9", 1, expected, 1), 1);
    EXPECT_EQ(from_ansi("r\xe9pertoire"), std::wstring(L"r") + expected[0] + L"pertoire");
}

TEST(windows_paths, same_file_sees_through_case_but_not_into_a_locked_file)
{
    EXPECT_EQ(long_path(L"C:\\jeux\\rom.nds"), L"\\\\?\\C:\\jeux\\rom.nds");
    const fs::path dir = fs::temp_directory_path() / "qm-win-paths";
    fs::create_directories(dir);
    std::ofstream(dir / "rom.nds") << "rom";
    // Hard links and other files: the portable tests, which run here too.
    EXPECT_EQ(ui::first_path_error(ui::query_path_facts(dir / "rom.nds", dir / "ROM.nds")),
              "Les fichiers source et destination sont identiques!");
    // A file locked against readers counts as another file.
    HANDLE locked = CreateFileW((dir / L"rom.nds").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(same_file(long_path((dir / L"rom.nds").wstring()), long_path((dir / L"rom.nds").wstring())));
    CloseHandle(locked);
    // A relative source is refused even when it exists.
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    const ui::path_facts facts = ui::query_path_facts("rom.nds", dir / "new.nds");
    fs::current_path(previous);
    EXPECT_EQ(ui::first_path_error(facts), "Chemin du fichier source incorrect");
    fs::remove_all(dir);
}

} // namespace
} // namespace qm::win32
