// Patch authoring from the translators' side: a translated script holding characters that the
// built-in font lacks (make-patch names each one, archive, entry, character and U+ code, as a
// warning, or refuses with --strict and writes nothing, from a ROM or from a folder made by
// rom-unpack), and a changed file that no name reaches.

#include "common/file_io.h"
#include "cpk/cpk_builder.h"
#include "engine/script_font.h"
#include "rom/nds_rom.h"
#include "rom/rom_test_support.h"
#include "support/error_of.h"
#include "tools/make_patch.h"
#include "tools/rom_image_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

namespace qm::test {
namespace {

namespace fs = std::filesystem;

// A script container: the text's start and end at bytes 24 and 28, the UTF-16LE text after the
// 32-byte head.
bytes container(const std::u16string& text)
{
    bytes c(32, 0);
    put_le32(c, 24, 32);
    put_le32(c, 28, static_cast<std::uint32_t>(32 + 2 * text.size()));
    for (char16_t unit : text)
        append_le16(c, unit);
    return c;
}

// The script entry that the patch job builds for a container: no prefix, then the container and
// its generated font.
bytes script_entry(const bytes& old, const bytes& script)
{
    return assemble_script_entry(old, 0, script, build_font(used_chars(make_char_index(), script)));
}

// A CPK archive with a plain entry 1 and the script entry 2.
bytes talk_archive(const bytes& script_entry)
{
    cpk_builder archive;
    archive.add_file(bytes(40, 'x'));
    archive.add_file(script_entry);
    return archive.write();
}

// Returns `replacement` for file `id`, as the patch job would write it.
class file_replacer : public rom_visitor {
public:
    file_replacer(std::uint16_t id, bytes replacement) : id(id), replacement(std::move(replacement)) {}
    bytes visit(const bytes& contents, std::uint32_t code) override
    {
        return code == make_section_code(section_kind::file, id) ? replacement : contents;
    }
    void enter_section(std::uint32_t) override {}

private:
    std::uint16_t id;
    bytes replacement;
};

// The game's header and one file, script/talk.cpk.
void write_game(const fs::path& path, const bytes& entry)
{
    rom_description d;
    d.title = "QLMOR";
    d.game_code = "YQLE";
    d.arm9 = bytes(64, 9);
    d.arm7 = bytes(64, 7);
    d.root = {rom_fs_node::directory("script", {rom_fs_node::file("talk.cpk", talk_archive(entry))})};
    write_rom_image(d, path);
}

struct tool_run {
    int status = -1;
    std::string err;
};

tool_run run_tool(const std::string& arguments, const fs::path& dir)
{
    const fs::path err = dir / "stderr.txt";
    const std::string command = std::string(QM_TOOL_EXE) + " " + arguments + " >/dev/null 2>" + err.string();
    const int status = std::system(command.c_str());
    const bytes text = read_whole_file(err);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(text.begin(), text.end())};
}

TEST(make_patch, script_characters_the_font_lacks_are_named_and_strict_refuses_them)
{
    const scratch_dir scratch;
    const fs::path& dir = scratch.path;
    const bytes old = script_entry({}, container(u"Hello.\nBye."));
    write_game(dir / "original.nds", old);
    // W with circumflex twice, a line break (never drawn), an emoji as a surrogate pair, a lone
    // surrogate, and letters the font has.
    file_replacer translation(
        0, talk_archive(script_entry(old, container(u"\u0174a \u00e9\u0174\n\U0001F600\xD800."))));
    rebuild(dir / "original.nds", dir / "translated.nds", translation);

    const authored_patch p = make_patch(dir / "original.nds", dir / "translated.nds");
    std::vector<std::tuple<std::string, std::uint32_t, char32_t, std::uint32_t>> found;
    for (const script_glyph_gap& g : p.missing_glyphs)
        found.emplace_back(g.archive, g.entry, g.glyph.character, g.glyph.count);
    using gap = decltype(found)::value_type;
    EXPECT_EQ(found,
              (decltype(found){gap{"script/talk.cpk", 2, 0x174, 2}, gap{"script/talk.cpk", 2, 0x1F600, 1},
                               gap{"script/talk.cpk", 2, 0xD800, 1}}));

    const std::string files = (dir / "original.nds").string() + " " + (dir / "translated.nds").string() +
                              " " + (dir / "out.patch").string();
    const tool_run warned = run_tool("make-patch " + files, dir);
    EXPECT_EQ(warned.status, 0) << warned.err;
    EXPECT_NE(
        warned.err.find("quillmoor-tool make-patch: warning: script/talk.cpk entry 2: \u0174 U+0174 has no "
                        "glyph in the built-in font (2 times)\n"),
        std::string::npos)
        << warned.err;
    EXPECT_NE(warned.err.find("entry 2: \U0001F600 U+1F600 has no glyph"), std::string::npos) << warned.err;
    EXPECT_NE(warned.err.find("entry 2: U+D800 (a lone surrogate) has no glyph"), std::string::npos)
        << warned.err;
    EXPECT_TRUE(fs::exists(dir / "out.patch"));

    fs::remove(dir / "out.patch");
    fs::remove(dir / "out.patch.card");
    const tool_run refused = run_tool("make-patch --strict " + files, dir);
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("3 script characters have no glyph in the built-in font; nothing written"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(dir / "out.patch"));
    EXPECT_FALSE(fs::exists(dir / "out.patch.card"));

    // The translation as a folder made by rom-unpack: the same refusal, and the ROM packed from
    // the folder does not stay behind.
    const fs::path work = dir / "work";
    EXPECT_EQ(run_tool("rom-unpack " + (dir / "translated.nds").string() + " " + work.string(), dir).status,
              0);
    const tool_run from_folder = run_tool("make-patch --strict " + (dir / "original.nds").string() + " " +
                                              work.string() + " " + (dir / "out.patch").string(),
                                          dir);
    EXPECT_EQ(from_folder.status, 1) << from_folder.err;
    EXPECT_NE(from_folder.err.find("3 script characters have no glyph in the built-in font; nothing written"),
              std::string::npos)
        << from_folder.err;
    EXPECT_EQ(scratch.names(),
              (std::vector<std::string>{"original.nds", "stderr.txt", "translated.nds", "work"}));
}

TEST(make_patch, a_changed_file_that_no_name_reaches_is_refused_by_its_id)
{
    const scratch_dir dir;
    rom_description d;
    d.arm9 = bytes(64, 9);
    d.arm7 = bytes(64, 7);
    d.root = {rom_fs_node::file("a", bytes(10, 1)), rom_fs_node::file("b", bytes(10, 2))};
    const fs::path original =
        dir.write("original.nds", with_fnt(build_rom_image(d).image, write_fnt({{0, {{"a", -1}}}})));
    file_replacer translation(1, bytes(12, 3)); // file 1, which the name table leaves out
    rebuild(original, dir.path / "translated.nds", translation);
    EXPECT_EQ(
        error_of([&] { make_patch(original, dir.path / "translated.nds"); }),
        "make-patch - file 1 differs, but the file-name table does not name it: a patch can only change "
        "files that have a path");
}

} // namespace
} // namespace qm::test
