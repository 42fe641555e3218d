#include "ui/win32/wide_text.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace qm::win32 {
namespace {

TEST(wide_text, french_texts_keep_their_accents)
{
    EXPECT_EQ(from_utf8("La source est un répertoire!"), L"La source est un r\u00e9pertoire!");
    EXPECT_EQ(from_utf8("Termin\xc3\xa9!"), L"Termin\u00e9!");
    EXPECT_EQ(from_utf8(""), L"");
}

TEST(wide_text, engine_texts_use_the_threads_ansi_code_page)
{
    EXPECT_EQ(from_ansi("nds_rom::nds_rom - can't open input file"),
              L"nds_rom::nds_rom - can't open input file");
    // One byte above 0x7F: whatever the code page makes of it, it is one character, as the
    // system's own conversion says.
    wchar_t expected[2] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "\xe9", 1, expected, 1), 1);
    EXPECT_EQ(from_ansi("r\xe9pertoire"), std::wstring(L"r") + expected[0] + L"pertoire");
    // A text with a NUL inside is converted whole.
    EXPECT_EQ(from_ansi(std::string_view("a\0b", 3)), std::wstring(L"a\0b", 3));
}

} // namespace
} // namespace qm::win32
