// The resources of quillmoor-patcher.exe as built: the dialogs' controls (ids, classes, French
// texts, the styles the program relies on), the icon, the banner, the manifest and the embedded
// patch archive. Ids are written as numbers so that a wrong value in the shared id header shows
// here; the layout (positions, sizes) is the resource script's own business and is not checked.
#include "common/bytes.h"
#include "common/file_io.h"
#include "ui/win32/banner_image.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <tuple>
#include <vector>

namespace qm::win32 {
namespace {

// The build passes Unix paths; under Wine the Unix root is drive Z:.
std::wstring windows_path(std::string unix_path)
{
    std::replace(unix_path.begin(), unix_path.end(), '/', '\\');
    return L"Z:" + std::wstring(unix_path.begin(), unix_path.end());
}

HMODULE program()
{
    static const HMODULE module = LoadLibraryExW(windows_path(QM_PATCHER_EXE).c_str(), nullptr,
                                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    return module;
}

// The French (France) resource, and nothing in another language.
byte_span resource(const wchar_t* type, int name)
{
    HRSRC info =
        FindResourceExW(program(), type, MAKEINTRESOURCEW(name), MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH));
    if (!info)
        return {};
    return {static_cast<const std::uint8_t*>(LockResource(LoadResource(program(), info))),
            SizeofResource(program(), info)};
}

// In upper case, with the predefined classes' ordinals as their names (either may be written).
std::wstring upper_name(std::wstring name)
{
    if (name == L"#128" || name == L"#129" || name == L"#130")
        name = name == L"#128" ? L"Button" : name == L"#129" ? L"Edit" : L"Static";
    for (wchar_t& c : name)
        c = static_cast<wchar_t>(std::towupper(c));
    return name;
}

// An extended dialog template (every read bounds-checked) as its caption, then "id CLASS text"
// per control; and the styles: the dialog's, then each control's.
std::pair<std::vector<std::wstring>, std::vector<DWORD>> parse_dialog(byte_span data)
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
    EXPECT_EQ(get_le32(data, 0), 0xFFFF0001u); // version 1, extended
    std::vector<DWORD> styles{get_le32(data, 12)};
    EXPECT_TRUE(styles[0] & DS_SETFONT);
    EXPECT_EQ(name() + name(), L""); // no menu, standard dialog class
    std::vector<std::wstring> lines{name()};
    EXPECT_EQ(u16(), 8); // point size
    at += 4;             // weight, italic, character set
    EXPECT_EQ(upper_name(name()), L"MS SHELL DLG");
    for (std::uint16_t i = 0; i < get_le16(data, 16); ++i) {
        at = (at + 3) / 4 * 4 + 24; // help id, extended style, style, position and size, id
        styles.push_back(get_le32(data, at - 16));
        const std::wstring id = std::to_wstring(static_cast<std::int32_t>(get_le32(data, at - 4)));
        const std::wstring cls = upper_name(name());
        lines.push_back(id + L" " + cls + L" " + name());
        at += u16(); // creation data
    }
    return {lines, styles};
}

TEST(program_resources, dialogs_hold_the_controls_and_texts_the_program_uses)
{
    ASSERT_NE(program(), nullptr) << "cannot load " << QM_PATCHER_EXE;
    const std::pair<int, std::vector<std::wstring>> dialogs[] = {
        {129,
         {L"Quillmoor - Patch de traduction fran\u00e7aise", L"1000 STATIC ", L"-1 STATIC Source",
          L"1001 EDIT ", L"1003 BUTTON Parcourir", L"-1 STATIC Destination", L"1002 EDIT ",
          L"1004 BUTTON Parcourir", L"1005 BUTTON Appliquer", L"1006 BUTTON A propos"}},
        {130,
         {L"Application du patch en cours...", L"1007 STATIC ", L"1008 MSCTLS_PROGRESS32 ",
          L"1009 BUTTON Annuler"}},
        {131,
         {L"\u00c0 propos", L"-1 STATIC #128", L"-1 STATIC Patch de traduction pour\nQuillmoor",
          L"-1 STATIC Version 1.0",
          L"1010 SYSLINK Par l'\u00e9quipe Quillmoor FR\n"
          L"<a href=\"https://quillmoor.example/\">https://quillmoor.example/</a>\n"
          L"<a href=\"https://quillmoor.example/forum/\">https://quillmoor.example/forum/</a>",
          L"1 BUTTON OK"}}};
    // The styles that the program's behaviour rests on: dialog, which style (0 the dialog's, n
    // control n's), the bits looked at and their values.
    constexpr DWORD button = WS_TABSTOP | WS_DISABLED | BS_TYPEMASK;
    constexpr DWORD modal = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    const std::tuple<int, std::size_t, DWORD, DWORD> styles[] = {
        {129, 0, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER | WS_THICKFRAME | WS_MAXIMIZEBOX,
         WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER}, // not resizable
        {129, 1, SS_TYPEMASK | SS_CENTERIMAGE, SS_BITMAP | SS_CENTERIMAGE},
        {129, 8, button, WS_TABSTOP | WS_DISABLED | BS_DEFPUSHBUTTON},
        {129, 9, button, WS_TABSTOP | BS_PUSHBUTTON},
        {130, 0, modal | DS_CENTER, modal | DS_CENTER},
        {130, 3, button, WS_TABSTOP | BS_DEFPUSHBUTTON},
        {131, 0, modal | DS_CENTER, modal},
        {131, 1, SS_TYPEMASK, SS_ICON},
        {131, 4, WS_TABSTOP, WS_TABSTOP},
        {131, 5, BS_TYPEMASK, BS_DEFPUSHBUTTON}};
    for (const auto& [dialog, lines] : dialogs) {
        SCOPED_TRACE(testing::Message() << "dialog " << dialog);
        const byte_span data = resource(RT_DIALOG, dialog);
        ASSERT_FALSE(data.empty());
        const auto [found, found_styles] = parse_dialog(data);
        EXPECT_EQ(found, lines);
        for (std::size_t i = 1; i < found_styles.size(); ++i)
            EXPECT_EQ(found_styles[i] & (WS_VISIBLE | WS_CHILD), WS_VISIBLE | WS_CHILD) << "control " << i;
        for (const auto& [in, i, mask, bits] : styles)
            if (in == dialog && i < found_styles.size()) {
                EXPECT_EQ(found_styles[i] & mask, bits) << "style " << i;
            }
    }
}

TEST(program_resources, icon_is_one_32_by_32_image_of_32_bits)
{
    const byte_span group = resource(RT_GROUP_ICON, 128);
    ASSERT_EQ(group.size(), 6u + 14u);
    EXPECT_EQ(get_le32(group, 2), 0x00010001u); // icons, one image
    EXPECT_EQ(get_le16(group, 6), 0x2020);      // 32 by 32
    EXPECT_EQ(get_le16(group, 12), 32);         // bits per pixel
    EXPECT_EQ(resource(RT_ICON, get_le16(group, 18)).size(), get_le32(group, 14));
}

TEST(program_resources, banner_decodes_to_320_by_208_premultiplied_alpha)
{
    const byte_span png = resource(MAKEINTRESOURCEW(2001), 3001);
    HBITMAP bitmap = decode_image(png.data(), static_cast<DWORD>(png.size()));
    ASSERT_NE(bitmap, nullptr);
    DIBSECTION dib{};
    ASSERT_EQ(GetObjectW(bitmap, sizeof dib, &dib), static_cast<int>(sizeof dib));
    EXPECT_EQ(dib.dsBm.bmWidth, 320);
    EXPECT_EQ(dib.dsBm.bmHeight, 208);
    ASSERT_EQ(dib.dsBm.bmBitsPixel, 32);
    const auto* px = static_cast<const std::uint8_t*>(dib.dsBm.bmBits);
    EXPECT_EQ(px[3], 0);                                           // transparent corner
    EXPECT_EQ(px[100 * dib.dsBm.bmWidthBytes + 160 * 4 + 3], 255); // opaque picture
    int brighter_than_alpha = 0;
    for (int i = 0; i < 320 * 208 * 4; i += 4)
        brighter_than_alpha += std::max({px[i], px[i + 1], px[i + 2]}) > px[i + 3];
    EXPECT_EQ(brighter_than_alpha, 0);
    DeleteObject(bitmap);
    const std::uint8_t not_png[] = {0x89, 'P', 'N', 'G', 0, 0, 0, 0};
    EXPECT_EQ(decode_image(not_png, sizeof not_png), nullptr);
}

TEST(program_resources, manifest_and_patch_archive)
{
    const byte_span manifest = resource(RT_MANIFEST, 1);
    const std::string text(manifest.begin(), manifest.end());
    for (const char* part : {"Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"", "<dpiAware",
                             "<dpiAwareness", ">true</longPathAware>"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    const byte_span archive = resource(MAKEINTRESOURCEW(2000), 3000);
    EXPECT_EQ(bytes(archive.begin(), archive.end()), read_whole_file(windows_path(QM_EMBEDDED_ARCHIVE)));
    // The program looks it up without a language.
    EXPECT_NE(FindResourceW(program(), MAKEINTRESOURCEW(3000), MAKEINTRESOURCEW(2000)), nullptr);
}

} // namespace
} // namespace qm::win32
