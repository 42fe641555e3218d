// The resources of quillmoor-patcher.exe as built: dialog templates control by control, their
// language, the icon, the banner, the manifest and the embedded patch archive. Ids are written
// as numbers so that a wrong value in the shared id header shows here.
#include "common/bytes.h"
#include "common/file_io.h"
#include "ui/win32/banner_image.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

namespace qm::win32 {
namespace {

// The build passes Unix paths; under Wine the Unix root is drive Z:.
std::wstring windows_path(std::string unix_path)
{
    for (char& c : unix_path)
        if (c == '/')
            c = '\\';
    return std::wstring(L"Z:") + std::wstring(unix_path.begin(), unix_path.end());
}

// One control of an extended dialog template; `cls` is the class name, or "#n" for an ordinal.
struct control {
    std::uint32_t id;
    std::wstring cls, text;
    std::uint32_t style;
    short x, y, cx, cy;
};

struct dialog {
    std::uint32_t style;
    short cx, cy;
    std::wstring caption;
    std::uint16_t point_size;
    std::wstring font;
    std::vector<control> controls;
};

// Predefined classes may be written as ordinals or by name, in any letter case.
std::wstring class_name(std::wstring cls)
{
    if (cls == L"#128" || cls == L"#129" || cls == L"#130")
        cls = cls == L"#128" ? L"Button" : cls == L"#129" ? L"Edit" : L"Static";
    for (wchar_t& c : cls)
        c = static_cast<wchar_t>(std::towupper(c));
    return cls;
}

// An extended dialog template (every read is bounds-checked).
dialog parse_dialog(byte_span data)
{
    std::size_t at = 0;
    const auto u16 = [&] { return get_le16(data, (at += 2) - 2); };
    const auto u32 = [&] { return get_le32(data, (at += 4) - 4); };
    const auto s16 = [&] { return static_cast<short>(u16()); };
    const auto string = [&] {
        std::wstring s;
        while (std::uint16_t c = u16())
            s += static_cast<wchar_t>(c);
        return s;
    };
    // A string, or 0xFFFF and an ordinal (written "#n").
    const auto name = [&] {
        return get_le16(data, at) == 0xFFFF ? (at += 2, L"#" + std::to_wstring(u16())) : string();
    };
    dialog d{};
    EXPECT_EQ(u32(), 0xFFFF0001u); // version 1, extended
    at += 8;                       // help id, extended style
    d.style = u32();
    EXPECT_TRUE(d.style & DS_SETFONT);
    const std::uint16_t count = u16();
    at += 4; // x, y
    d.cx = s16();
    d.cy = s16();
    EXPECT_EQ(name(), L""); // no menu
    EXPECT_EQ(name(), L""); // standard dialog class
    d.caption = string();
    d.point_size = u16();
    at += 4; // weight, italic, character set
    d.font = string();
    for (std::uint16_t i = 0; i < count; ++i) {
        at = (at + 3) & ~std::size_t{3};
        at += 8; // help id, extended style
        control c{};
        c.style = u32();
        c.x = s16();
        c.y = s16();
        c.cx = s16();
        c.cy = s16();
        c.id = u32();
        c.cls = class_name(name());
        c.text = name();
        at += u16(); // creation data
        d.controls.push_back(c);
    }
    return d;
}

// What a control must be: styles in `set` present, in `clear` absent, and the style type under
// `type_mask` equal to `type`. A null text or a negative width is not checked.
struct wanted {
    std::uint32_t id;
    const wchar_t* cls;
    const wchar_t* text;
    short x, y, cx, cy;
    DWORD set = 0, clear = 0, type_mask = 0, type = 0;
};

constexpr std::uint32_t no_id = 0xFFFFFFFF;
constexpr DWORD edit_style = WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;

class program_resources : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        module = LoadLibraryExW(windows_path(QM_PATCHER_EXE).c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite()
    {
        if (module)
            FreeLibrary(module);
    }
    void SetUp() override { ASSERT_NE(module, nullptr) << "cannot load " << QM_PATCHER_EXE; }

    // The French (France) resource, and nothing in another language.
    static byte_span resource(const wchar_t* type, int name)
    {
        HRSRC info =
            FindResourceExW(module, type, MAKEINTRESOURCEW(name), MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH));
        if (!info)
            return {};
        HGLOBAL loaded = LoadResource(module, info);
        return {static_cast<const std::uint8_t*>(LockResource(loaded)), SizeofResource(module, info)};
    }

    static dialog expect_dialog(int name, const wchar_t* caption, short cx, short cy, const wchar_t* font,
                                DWORD set, const std::vector<wanted>& controls)
    {
        const byte_span data = resource(RT_DIALOG, name);
        EXPECT_FALSE(data.empty()) << "dialog " << name;
        if (data.empty())
            return {};
        dialog d = parse_dialog(data);
        EXPECT_EQ(d.caption, caption);
        EXPECT_EQ(d.cx, cx);
        EXPECT_EQ(d.cy, cy);
        EXPECT_EQ(d.font, font);
        EXPECT_EQ(d.point_size, 8);
        EXPECT_EQ(d.style & set, set);
        EXPECT_EQ(d.controls.size(), controls.size());
        for (std::size_t i = 0; i < std::min(d.controls.size(), controls.size()); ++i) {
            const control& c = d.controls[i];
            const wanted& w = controls[i];
            SCOPED_TRACE(testing::Message() << "dialog " << name << ", control " << i);
            EXPECT_EQ(c.id, w.id);
            EXPECT_EQ(c.cls, class_name(w.cls));
            if (w.text) {
                EXPECT_EQ(c.text, w.text);
            }
            EXPECT_EQ(c.x, w.x);
            EXPECT_EQ(c.y, w.y);
            if (w.cx >= 0) {
                EXPECT_EQ(c.cx, w.cx);
                EXPECT_EQ(c.cy, w.cy);
            }
            const DWORD must = w.set | WS_VISIBLE | WS_CHILD;
            EXPECT_EQ(c.style & must, must);
            EXPECT_EQ(c.style & w.clear, 0u);
            EXPECT_EQ(c.style & w.type_mask, w.type);
        }
        return d;
    }

    static HMODULE module;
};
HMODULE program_resources::module = nullptr;

TEST_F(program_resources, main_dialog_template)
{
    const dialog d =
        expect_dialog(129, L"Quillmoor - Patch de traduction fran\u00e7aise", 250, 248, L"MS Shell Dlg",
                      WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER,
                      {{1000, L"Static", L"", 10, 10, 230, 149, SS_CENTERIMAGE, 0, SS_TYPEMASK, SS_BITMAP},
                       {no_id, L"Static", L"Source", 5, 164, 178, 8},
                       {1001, L"Edit", L"", 5, 173, 200, 12, edit_style},
                       {1003, L"Button", L"Parcourir", 207, 172, 38, 14, WS_TABSTOP},
                       {no_id, L"Static", L"Destination", 5, 191, 178, 8},
                       {1002, L"Edit", L"", 5, 200, 200, 12, edit_style},
                       {1004, L"Button", L"Parcourir", 207, 199, 37, 14, WS_TABSTOP},
                       {1005, L"Button", L"Appliquer", 71, 220, 50, 20, WS_TABSTOP | WS_DISABLED, 0,
                        BS_TYPEMASK, BS_DEFPUSHBUTTON},
                       {1006, L"Button", L"A propos", 129, 220, 50, 20, WS_TABSTOP, WS_DISABLED, BS_TYPEMASK,
                        BS_PUSHBUTTON}});
    EXPECT_FALSE(d.style & (WS_THICKFRAME | WS_MAXIMIZEBOX)); // not resizable
}

TEST_F(program_resources, progress_dialog_template)
{
    expect_dialog(
        130, L"Application du patch en cours...", 220, 62, L"Ms Shell Dlg",
        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER,
        {{1007, L"Static", L"", 10, 8, 200, 8},
         {1008, L"msctls_progress32", L"", 10, 19, 200, 16},
         {1009, L"Button", L"Annuler", 75, 41, 70, 15, WS_TABSTOP, 0, BS_TYPEMASK, BS_DEFPUSHBUTTON}});
}

TEST_F(program_resources, about_dialog_template)
{
    const dialog d = expect_dialog(
        131, L"\u00c0 propos", 195, 102, L"Ms Shell Dlg", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
        {{no_id, L"Static", L"#128", 11, 8, -1, -1, 0, 0, SS_TYPEMASK, SS_ICON},
         {no_id, L"Static", L"Patch de traduction pour\nQuillmoor", 48, 8, 137, 16},
         {no_id, L"Static", L"Version 1.0", 48, 32, 137, 8},
         {1010, L"SysLink", nullptr, 48, 48, 137, 24, WS_TABSTOP},
         {IDOK, L"Button", L"OK", 73, 81, 50, 14, 0, 0, BS_TYPEMASK, BS_DEFPUSHBUTTON}});
    ASSERT_EQ(d.controls.size(), 5u);

    // The authors' line, then two anchors whose targets are the addresses they show.
    const std::wstring& links = d.controls[3].text;
    const std::size_t first = links.find(L'\n'), second = links.find(L'\n', first + 1);
    ASSERT_NE(second, std::wstring::npos);
    EXPECT_EQ(links.find(L'\n', second + 1), std::wstring::npos);
    EXPECT_EQ(links.find(L"<a"), first + 1); // the authors' line holds no link
    for (std::wstring line : {links.substr(first + 1, second - first - 1), links.substr(second + 1)}) {
        SCOPED_TRACE(std::string(line.begin(), line.end()));
        const std::wstring open = L"<a href=\"";
        ASSERT_EQ(line.rfind(open, 0), 0u);
        const std::size_t end_target = line.find(L"\">", open.size());
        ASSERT_NE(end_target, std::wstring::npos);
        const std::wstring target = line.substr(open.size(), end_target - open.size());
        EXPECT_EQ(target.rfind(L"https://", 0), 0u);
        EXPECT_EQ(line.substr(end_target + 2), target + L"</a>");
    }
}

TEST_F(program_resources, icon_is_one_32_by_32_image_of_32_bits)
{
    const byte_span group = resource(RT_GROUP_ICON, 128);
    ASSERT_EQ(group.size(), 6u + 14u);
    EXPECT_EQ(get_le16(group, 2), 1);   // icons
    EXPECT_EQ(get_le16(group, 4), 1);   // one image
    EXPECT_EQ(get_u8(group, 6), 32);    // width
    EXPECT_EQ(get_u8(group, 7), 32);    // height
    EXPECT_EQ(get_le16(group, 12), 32); // bits per pixel
    EXPECT_EQ(resource(RT_ICON, get_le16(group, 18)).size(), get_le32(group, 14));
}

TEST_F(program_resources, banner_decodes_to_320_by_208_premultiplied_alpha)
{
    const byte_span png = resource(MAKEINTRESOURCEW(2001), 3001);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(get_be32(png, 0), 0x89504E47u);
    HBITMAP bitmap = decode_image(png.data(), static_cast<DWORD>(png.size()));
    ASSERT_NE(bitmap, nullptr);
    DIBSECTION dib{};
    ASSERT_EQ(GetObjectW(bitmap, sizeof dib, &dib), static_cast<int>(sizeof dib));
    EXPECT_EQ(dib.dsBm.bmWidth, 320);
    EXPECT_EQ(dib.dsBm.bmHeight, 208);
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 32);
    ASSERT_NE(dib.dsBm.bmBits, nullptr);
    const auto* px = static_cast<const std::uint8_t*>(dib.dsBm.bmBits);
    EXPECT_EQ(px[3], 0);                                           // transparent corner
    EXPECT_EQ(px[100 * dib.dsBm.bmWidthBytes + 160 * 4 + 3], 255); // opaque picture
    bool premultiplied = true; // no colour channel exceeds its pixel's alpha
    for (int i = 0; i < 320 * 208 * 4; i += 4)
        premultiplied =
            premultiplied && px[i] <= px[i + 3] && px[i + 1] <= px[i + 3] && px[i + 2] <= px[i + 3];
    EXPECT_TRUE(premultiplied);
    DeleteObject(bitmap);

    const std::uint8_t not_png[] = {0x89, 'P', 'N', 'G', 0, 0, 0, 0};
    EXPECT_EQ(decode_image(not_png, sizeof not_png), nullptr);
    EXPECT_EQ(decode_image(nullptr, 0), nullptr);
}

TEST_F(program_resources, manifest_asks_for_common_controls_6_dpi_and_long_paths)
{
    const byte_span manifest = resource(RT_MANIFEST, 1);
    const std::string text(manifest.begin(), manifest.end());
    for (const char* part : {"Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"", "<dpiAware",
                             "<dpiAwareness", ">true</longPathAware>"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

TEST_F(program_resources, patch_archive_is_the_configured_file)
{
    const byte_span archive = resource(MAKEINTRESOURCEW(2000), 3000);
    EXPECT_EQ(bytes(archive.begin(), archive.end()), read_whole_file(windows_path(QM_EMBEDDED_ARCHIVE)));
    // The program looks it up without a language.
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(3000), MAKEINTRESOURCEW(2000)), nullptr);
}

} // namespace
} // namespace qm::win32
