// The resources of quillmoor-patcher.exe as built: dialog templates control by control, their
// language, the icon, the banner, the manifest and the embedded patch archive.
#include "common/bytes.h"
#include "common/file_io.h"
#include "ui/win32/banner_image.h"
#include "ui/win32/resource_ids.h"

#include <gtest/gtest.h>
#include <windows.h>

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
        HRSRC info = FindResourceExW(module, type, MAKEINTRESOURCEW(name), MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH));
        if (!info)
            return {};
        HGLOBAL loaded = LoadResource(module, info);
        return {static_cast<const std::uint8_t*>(LockResource(loaded)), SizeofResource(module, info)};
    }

    static HMODULE module;
};
HMODULE program_resources::module = nullptr;

// One control of an extended dialog template; `cls` is the class name, or "#n" for an ordinal.
struct control {
    std::uint32_t id;
    std::wstring cls;
    std::wstring text;
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

class template_reader {
public:
    explicit template_reader(byte_span data) : data_(data) {}
    std::uint16_t u16() { auto v = get_le16(data_, pos_); pos_ += 2; return v; }
    std::uint32_t u32() { auto v = get_le32(data_, pos_); pos_ += 4; return v; }
    short s16() { return static_cast<short>(u16()); }
    std::wstring string()
    {
        std::wstring s;
        while (std::uint16_t c = u16())
            s += static_cast<wchar_t>(c);
        return s;
    }
    // A string, or 0xFFFF and an ordinal (written "#n"), or 0 for none.
    std::wstring string_or_ordinal()
    {
        std::uint16_t first = get_le16(data_, pos_);
        if (first == 0xFFFF) {
            pos_ += 2;
            return L"#" + std::to_wstring(u16());
        }
        return string();
    }
    void align4() { pos_ = (pos_ + 3) & ~std::size_t{3}; }
    void skip(std::size_t n) { require_bounds(data_.size(), pos_, n); pos_ += n; }

private:
    byte_span data_;
    std::size_t pos_ = 0;
};

// The predefined classes may be written as ordinals or by name.
std::wstring class_name(const std::wstring& cls)
{
    if (cls == L"#128")
        return L"Button";
    if (cls == L"#129")
        return L"Edit";
    if (cls == L"#130")
        return L"Static";
    return cls;
}

dialog parse_dialog(byte_span data)
{
    template_reader r(data);
    dialog d{};
    EXPECT_EQ(r.u16(), 1);      // version
    EXPECT_EQ(r.u16(), 0xFFFF); // extended template
    r.u32();                    // help id
    r.u32();                    // extended style
    d.style = r.u32();
    std::uint16_t count = r.u16();
    r.s16();
    r.s16();
    d.cx = r.s16();
    d.cy = r.s16();
    EXPECT_EQ(r.string_or_ordinal(), L""); // no menu
    EXPECT_EQ(r.string_or_ordinal(), L""); // standard dialog class
    d.caption = r.string();
    EXPECT_TRUE(d.style & DS_SETFONT);
    d.point_size = r.u16();
    r.u16(); // weight
    r.skip(2); // italic, character set
    d.font = r.string();
    for (std::uint16_t i = 0; i < count; ++i) {
        r.align4();
        control c{};
        r.u32(); // help id
        r.u32(); // extended style
        c.style = r.u32();
        c.x = r.s16();
        c.y = r.s16();
        c.cx = r.s16();
        c.cy = r.s16();
        c.id = r.u32();
        c.cls = class_name(r.string_or_ordinal());
        c.text = r.string_or_ordinal();
        r.skip(r.u16());
        d.controls.push_back(c);
    }
    return d;
}

constexpr std::uint32_t no_id = 0xFFFFFFFF;
const std::wstring button = L"Button", edit = L"Edit", statik = L"Static";

// Window class names are not case-sensitive (the resource compiler may change their case).
std::wstring upper(std::wstring s)
{
    for (wchar_t& c : s)
        c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

void expect_control(const control& c, std::uint32_t id, const std::wstring& cls, const std::wstring& text, short x,
                    short y, short cx, short cy)
{
    SCOPED_TRACE(testing::Message() << "control " << static_cast<int>(id));
    EXPECT_EQ(c.id, id);
    EXPECT_EQ(upper(c.cls), upper(cls));
    EXPECT_EQ(c.text, text);
    EXPECT_EQ(c.x, x);
    EXPECT_EQ(c.y, y);
    EXPECT_EQ(c.cx, cx);
    EXPECT_EQ(c.cy, cy);
    EXPECT_TRUE(c.style & WS_VISIBLE);
    EXPECT_TRUE(c.style & WS_CHILD);
}

TEST_F(program_resources, main_dialog_template)
{
    byte_span data = resource(RT_DIALOG, QM_DIALOG_MAIN);
    ASSERT_FALSE(data.empty());
    dialog d = parse_dialog(data);
    EXPECT_EQ(d.caption, L"Quillmoor - Patch de traduction fran\u00e7aise");
    EXPECT_EQ(d.cx, 250);
    EXPECT_EQ(d.cy, 248);
    EXPECT_EQ(d.font, L"MS Shell Dlg");
    EXPECT_EQ(d.point_size, 8);
    for (DWORD bit : std::initializer_list<DWORD>{WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, DS_CENTER})
        EXPECT_EQ(d.style & bit, bit);
    EXPECT_FALSE(d.style & WS_THICKFRAME); // not resizable
    EXPECT_FALSE(d.style & WS_MAXIMIZEBOX);

    ASSERT_EQ(d.controls.size(), 9u);
    const auto& c = d.controls;
    expect_control(c[0], QM_ID_BANNER, statik, L"", 10, 10, 230, 149);
    EXPECT_EQ(c[0].style & SS_TYPEMASK, static_cast<DWORD>(SS_BITMAP));
    EXPECT_TRUE(c[0].style & SS_CENTERIMAGE);
    expect_control(c[1], no_id, statik, L"Source", 5, 164, 178, 8);
    expect_control(c[2], QM_ID_SOURCE, edit, L"", 5, 173, 200, 12);
    expect_control(c[3], QM_ID_BROWSE_SOURCE, button, L"Parcourir", 207, 172, 38, 14);
    expect_control(c[4], no_id, statik, L"Destination", 5, 191, 178, 8);
    expect_control(c[5], QM_ID_DESTINATION, edit, L"", 5, 200, 200, 12);
    expect_control(c[6], QM_ID_BROWSE_DESTINATION, button, L"Parcourir", 207, 199, 37, 14);
    expect_control(c[7], QM_ID_APPLY, button, L"Appliquer", 71, 220, 50, 20);
    expect_control(c[8], QM_ID_ABOUT, button, L"A propos", 129, 220, 50, 20);
    for (int i : {2, 5}) {
        EXPECT_TRUE(c[i].style & WS_BORDER);
        EXPECT_TRUE(c[i].style & ES_AUTOHSCROLL);
    }
    for (int i : {2, 3, 5, 6, 7, 8})
        EXPECT_TRUE(c[i].style & WS_TABSTOP) << i;
    EXPECT_EQ(c[7].style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_TRUE(c[7].style & WS_DISABLED);
    EXPECT_EQ(c[8].style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));
    EXPECT_FALSE(c[8].style & WS_DISABLED);
}

TEST_F(program_resources, progress_dialog_template)
{
    byte_span data = resource(RT_DIALOG, QM_DIALOG_PROGRESS);
    ASSERT_FALSE(data.empty());
    dialog d = parse_dialog(data);
    EXPECT_EQ(d.caption, L"Application du patch en cours...");
    EXPECT_EQ(d.cx, 220);
    EXPECT_EQ(d.cy, 62);
    EXPECT_EQ(d.font, L"Ms Shell Dlg");
    EXPECT_EQ(d.point_size, 8);
    for (DWORD bit : std::initializer_list<DWORD>{WS_POPUP, WS_CAPTION, WS_SYSMENU, DS_MODALFRAME, DS_CENTER})
        EXPECT_EQ(d.style & bit, bit);
    ASSERT_EQ(d.controls.size(), 3u);
    expect_control(d.controls[0], QM_ID_STATUS, statik, L"", 10, 8, 200, 8);
    expect_control(d.controls[1], QM_ID_PROGRESS, L"msctls_progress32", L"", 10, 19, 200, 16);
    expect_control(d.controls[2], QM_ID_CANCEL, button, L"Annuler", 75, 41, 70, 15);
    EXPECT_EQ(d.controls[2].style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_TRUE(d.controls[2].style & WS_TABSTOP);
}

TEST_F(program_resources, about_dialog_template)
{
    byte_span data = resource(RT_DIALOG, QM_DIALOG_ABOUT);
    ASSERT_FALSE(data.empty());
    dialog d = parse_dialog(data);
    EXPECT_EQ(d.caption, L"\u00c0 propos");
    EXPECT_EQ(d.cx, 195);
    EXPECT_EQ(d.cy, 102);
    EXPECT_EQ(d.font, L"Ms Shell Dlg");
    for (DWORD bit : std::initializer_list<DWORD>{WS_POPUP, WS_CAPTION, WS_SYSMENU, DS_MODALFRAME})
        EXPECT_EQ(d.style & bit, bit);
    ASSERT_EQ(d.controls.size(), 5u);
    const auto& c = d.controls;
    EXPECT_EQ(upper(c[0].cls), upper(statik));
    EXPECT_EQ(c[0].text, L"#" + std::to_wstring(QM_ICON_MAIN));
    EXPECT_EQ(c[0].style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
    EXPECT_EQ(c[0].x, 11);
    EXPECT_EQ(c[0].y, 8);
    expect_control(c[1], no_id, statik, L"Patch de traduction pour\nQuillmoor", 48, 8, 137, 16);
    expect_control(c[2], no_id, statik, L"Version 1.0", 48, 32, 137, 8);
    EXPECT_EQ(c[3].id, QM_ID_LINKS);
    EXPECT_EQ(upper(c[3].cls), L"SYSLINK");
    EXPECT_EQ(c[3].x, 48);
    EXPECT_EQ(c[3].y, 48);
    EXPECT_EQ(c[3].cx, 137);
    EXPECT_EQ(c[3].cy, 24);
    EXPECT_TRUE(c[3].style & WS_TABSTOP);
    expect_control(c[4], IDOK, button, L"OK", 73, 81, 50, 14);
    EXPECT_EQ(c[4].style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));

    // The authors' line, then two anchors whose targets are the addresses they show.
    const std::wstring& links = c[3].text;
    std::size_t first = links.find(L'\n'), second = links.find(L'\n', first + 1);
    ASSERT_NE(second, std::wstring::npos);
    EXPECT_EQ(links.find(L'\n', second + 1), std::wstring::npos);
    EXPECT_EQ(links.find(L"<a"), first + 1); // the authors' line holds no link
    for (std::wstring line : {links.substr(first + 1, second - first - 1), links.substr(second + 1)}) {
        SCOPED_TRACE(std::string(line.begin(), line.end()));
        const std::wstring open = L"<a href=\"";
        ASSERT_EQ(line.rfind(open, 0), 0u);
        std::size_t end_target = line.find(L"\">", open.size());
        ASSERT_NE(end_target, std::wstring::npos);
        std::wstring target = line.substr(open.size(), end_target - open.size());
        EXPECT_EQ(target.rfind(L"https://", 0), 0u);
        EXPECT_EQ(line.substr(end_target + 2), target + L"</a>");
    }
}

TEST_F(program_resources, icon_is_one_32_by_32_image_of_32_bits)
{
    byte_span group = resource(RT_GROUP_ICON, QM_ICON_MAIN);
    ASSERT_EQ(group.size(), 6u + 14u);
    EXPECT_EQ(get_le16(group, 2), 1);  // icons
    EXPECT_EQ(get_le16(group, 4), 1);  // one image
    EXPECT_EQ(get_u8(group, 6), 32);   // width
    EXPECT_EQ(get_u8(group, 7), 32);   // height
    EXPECT_EQ(get_le16(group, 12), 32); // bits per pixel
    byte_span image = resource(RT_ICON, get_le16(group, 18));
    EXPECT_EQ(image.size(), get_le32(group, 14));
}

TEST_F(program_resources, banner_decodes_to_320_by_208_with_alpha)
{
    byte_span png = resource(MAKEINTRESOURCEW(QM_TYPE_BANNER), QM_NAME_BANNER);
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
    auto alpha = [&](int x, int y) {
        return static_cast<const std::uint8_t*>(dib.dsBm.bmBits)[y * dib.dsBm.bmWidthBytes + x * 4 + 3];
    };
    EXPECT_EQ(alpha(0, 0), 0);        // transparent corner
    EXPECT_EQ(alpha(160, 100), 255);  // opaque picture
    // Premultiplied: no colour channel exceeds its pixel's alpha.
    auto* px = static_cast<const std::uint8_t*>(dib.dsBm.bmBits);
    bool premultiplied = true;
    for (int i = 0; i < 320 * 208 * 4; i += 4)
        premultiplied = premultiplied && px[i] <= px[i + 3] && px[i + 1] <= px[i + 3] && px[i + 2] <= px[i + 3];
    EXPECT_TRUE(premultiplied);
    DeleteObject(bitmap);
}

TEST(banner_decoding, anything_but_an_image_gives_no_bitmap)
{
    const std::uint8_t not_png[] = {0x89, 'P', 'N', 'G', 0, 0, 0, 0};
    EXPECT_EQ(decode_image(not_png, sizeof not_png), nullptr);
    EXPECT_EQ(decode_image(nullptr, 0), nullptr);
}

TEST_F(program_resources, manifest_asks_for_common_controls_6_dpi_and_long_paths)
{
    byte_span manifest = resource(RT_MANIFEST, 1);
    std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(text.find("<dpiAware"), std::string::npos);
    EXPECT_NE(text.find("<dpiAwareness"), std::string::npos);
    EXPECT_NE(text.find(">true</longPathAware>"), std::string::npos);
}

TEST_F(program_resources, patch_archive_is_the_configured_file)
{
    byte_span archive = resource(MAKEINTRESOURCEW(QM_TYPE_PATCH_ARCHIVE), QM_NAME_PATCH_ARCHIVE);
    bytes expected = read_whole_file(windows_path(QM_EMBEDDED_ARCHIVE));
    EXPECT_EQ(bytes(archive.begin(), archive.end()), expected);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(QM_NAME_PATCH_ARCHIVE), MAKEINTRESOURCEW(QM_TYPE_PATCH_ARCHIVE)), nullptr);
}

} // namespace
} // namespace qm::win32
