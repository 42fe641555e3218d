// The resources of quillmoor-patcher.exe as built: the dialogs' controls (ids, classes, French
// texts, the states the program relies on), the banner, the manifest and the embedded
// patch archive. Ids are written as numbers so that a wrong value in the shared id header shows
// here; the layout (positions, sizes, fonts) is the resource script's own business.
#include "common/bytes.h"
#include "common/file_io.h"
#include "ui/team_contacts.h"
#include "ui/win32/banner_image.h"
#include "ui/win32/wide_text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <tuple>

namespace qm::win32 {
namespace {

// The build passes Unix paths; under Wine the Unix root is drive Z:.
std::wstring windows_path(const char* unix_path)
{
    return L"Z:" + std::filesystem::path(unix_path).make_preferred().wstring();
}

const HMODULE program = LoadLibraryExW(windows_path(QM_PATCHER_EXE).c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);

// The French (France) resource, and nothing in another language.
byte_span resource(const wchar_t* type, int name)
{
    HRSRC info =
        FindResourceExW(program, type, MAKEINTRESOURCEW(name), MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH));
    return info ? byte_span(static_cast<const std::uint8_t*>(LockResource(LoadResource(program, info))),
                            SizeofResource(program, info))
                : byte_span();
}

// An extended dialog template (every read bounds-checked) as its caption, then per control
// "id CLASS text", marked when the control is hidden, disabled, a default button or a bitmap.
std::vector<std::wstring> dialog_lines(byte_span data)
{
    std::size_t at = 26; // version, help id, extended style, style, count, position and size
    const auto u16 = [&] { return get_le16(data, (at += 2) - 2); };
    // A string, or 0xFFFF and an ordinal (written "#n").
    const auto name = [&] {
        if (get_le16(data, at) == 0xFFFF)
            return at += 2, L"#" + std::to_wstring(u16());
        std::wstring s;
        while (const std::uint16_t c = u16())
            s += static_cast<wchar_t>(c);
        return s;
    };
    EXPECT_EQ(name() + name(), L""); // no menu, standard dialog class
    std::vector<std::wstring> lines{name()};
    at += 6; // point size, weight, italic, character set
    name();  // font
    for (std::uint16_t i = 0; i < get_le16(data, 16); ++i) {
        at = (at + 3) / 4 * 4 + 24; // help id, extended style, style, position and size, id
        const DWORD style = get_le32(data, at - 16);
        const std::wstring id = std::to_wstring(static_cast<std::int32_t>(get_le32(data, at - 4)));
        std::wstring cls = name(); // predefined classes by ordinal, others by name in upper case
        cls = cls == L"#128" ? L"BUTTON" : cls == L"#129" ? L"EDIT" : cls == L"#130" ? L"STATIC" : cls;
        lines.push_back(id + L" " + cls + L" " + name() + (style & WS_VISIBLE ? L"" : L" (hidden)") +
                        (style & WS_DISABLED ? L" (disabled)" : L""));
        if (cls == L"BUTTON" && (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            lines.back() += L" (default)";
        if (cls == L"STATIC" && (style & SS_TYPEMASK) == SS_BITMAP)
            lines.back() += L" (bitmap)";
        at += u16(); // creation data
    }
    return lines;
}

// The authors' line, then the two addresses as links to themselves, as the build was configured.
std::wstring about_links()
{
    const auto link = [](const std::string& url) { return "<a href=\"" + url + "\">" + url + "</a>"; };
    return from_utf8(std::string("Traduction\u00A0: ") + ui::team_name + "\n" + link(ui::download_url) +
                     "\n" + link(ui::help_url));
}

TEST(program_resources, dialogs_hold_the_controls_and_texts_the_program_uses)
{
    ASSERT_NE(program, nullptr) << "cannot load " << QM_PATCHER_EXE;
    const std::pair<int, std::vector<std::wstring>> dialogs[] = {
        {129,
         {L"Quillmoor - Patch de traduction fran\u00e7aise", L"1000 STATIC  (bitmap)", L"-1 STATIC Source",
          L"1001 EDIT ", L"1003 BUTTON Parcourir", L"-1 STATIC Destination", L"1002 EDIT ",
          L"1004 BUTTON Parcourir", L"1005 BUTTON Appliquer (disabled) (default)", L"1006 BUTTON A propos"}},
        {130,
         {L"Application du patch en cours...", L"1007 STATIC ", L"1008 MSCTLS_PROGRESS32 ",
          L"1009 BUTTON Annuler (default)"}},
        {131,
         {L"\u00c0 propos", L"-1 STATIC #128", L"-1 STATIC Patch de traduction pour\nQuillmoor",
          L"-1 STATIC Version 1.0", L"1010 SYSLINK " + about_links(), L"1 BUTTON OK (default)"}}};
    for (const auto& [dialog, lines] : dialogs)
        EXPECT_EQ(dialog_lines(resource(RT_DIALOG, dialog)), lines) << "dialog " << dialog;
}

// The banner (decoded), the manifest (the common controls that the about box link needs) and
// the patch archive as built.
TEST(program_resources, icon_is_one_32_by_32_image_of_32_bits)
{
    const byte_span group = resource(RT_GROUP_ICON, 128);
    ASSERT_EQ(group.size(), 6u + 14u);
    EXPECT_EQ(get_le32(group, 2), 0x00010001u); // icons, one image
    EXPECT_EQ(get_le16(group, 6), 0x2020);      // 32 by 32
    EXPECT_EQ(get_le16(group, 12), 32);         // bits per pixel
    EXPECT_EQ(resource(RT_ICON, get_le16(group, 18)).size(), get_le32(group, 14));
}

TEST(program_resources, banner_manifest_and_patch_archive)
{
    const byte_span png = resource(MAKEINTRESOURCEW(2001), 3001);
    const HBITMAP bitmap = decode_image(png.data(), static_cast<DWORD>(png.size()));
    BITMAP bm{};
    ASSERT_EQ(GetObjectW(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(std::tuple(bm.bmWidth, bm.bmHeight, bm.bmBitsPixel), std::tuple(320L, 208L, WORD{32}));
    const byte_span manifest = resource(RT_MANIFEST, 1);
    EXPECT_NE(std::string(manifest.begin(), manifest.end()).find("Microsoft.Windows.Common-Controls"),
              std::string::npos);
    const byte_span archive = resource(MAKEINTRESOURCEW(2000), 3000);
    EXPECT_EQ(bytes(archive.begin(), archive.end()), read_whole_file(windows_path(QM_EMBEDDED_ARCHIVE)));
    // The program looks it up without a language.
    EXPECT_NE(FindResourceW(program, MAKEINTRESOURCEW(3000), MAKEINTRESOURCEW(2000)), nullptr);
}

} // namespace
} // namespace qm::win32
