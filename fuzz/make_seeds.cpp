// Writes the seeds that depend on the fixed game and on the patch archive format:
// small inputs made by the program's own builders, so that fuzzing starts from well-formed data.
// Usage: make_seeds CORPUS_DIR (one folder per target). Seeds of the same name are replaced;
// the other files of the corpus (the codecs' samples, random ROMs, inputs that fuzzing found and
// that were kept) stay as they are.

#include "common/file_io.h"
#include "engine/crc32.h"
#include "engine/patch_archive.h"
#include "fuzz_support.h"
#include "rom/nds_rom.h"
#include "vcdiff/vcdiff_encoder.h"

#include <cstdio>

using namespace qm;
using fuzz::repeated;

namespace {

std::filesystem::path corpus;

void seed(const std::string& target, const std::string& name, std::initializer_list<byte_span> parts)
{
    bytes data;
    for (byte_span p : parts)
        append_bytes(data, p);
    std::filesystem::create_directories(corpus / target);
    write_whole_file(corpus / target / name, data);
}

// A script container whose text (UTF-16LE) lies between the offsets at bytes 24 and 28.
bytes script_container(const std::u16string& script)
{
    bytes c(32, 0);
    put_le32(c, 24, 32);
    put_le32(c, 28, static_cast<std::uint32_t>(32 + 2 * script.size()));
    for (char16_t u : script)
        append_le16(c, static_cast<std::uint16_t>(u));
    return c;
}

void archive_seeds()
{
    const fuzz::fixed_game& g = fuzz::the_fixed_game();
    const auto& f = g.cpk_files;
    const auto write = [](const std::string& name, archive_builder& b) {
        const bytes unpacked = b.build();
        seed("load_archive", name + "-packed", {bytes{0}, pack_archive(unpacked)});
        seed("load_archive", name, {bytes{fuzz::archive_mode_apply, fuzz::no_cancel}, unpacked});
        seed("load_archive", name + "-cancelled", {bytes{fuzz::archive_mode_apply, 12}, unpacked});
    };
    archive_builder deltas, cpk, script, empty;
    const auto delta = [&](const bytes& before, const bytes& after) {
        return std::vector<std::uint32_t>{0, crc32(before), deltas.add_blob(vcdiff_encode(before, after))};
    };
    deltas.add_file_record("/readme.txt", delta(g.readme, repeated("Lisez-moi.", 10)));
    deltas.add_record(make_section_code(section_kind::arm9), delta(g.arm9, repeated("nouveau code ", 700)));
    deltas.add_record(make_section_code(section_kind::arm9_overlay, 0),
                      delta(g.overlay, repeated("code du module ", 900)));
    deltas.set_total_steps(20);
    write("deltas", deltas);
    // Every kind of CPK entry record: a script, a font conversion, a replacement, a delta, an
    // appended entry.
    const std::uint32_t text = cpk.add_blob(script_container(u"\u00C9t\u00E9 \u00E0 Quillmoor"));
    const std::uint32_t replacement = cpk.add_blob(repeated("nouveau ", 700));
    const std::uint32_t changed = cpk.add_blob(vcdiff_encode(f[4], repeated("abc", 2100)));
    const std::uint32_t appended = cpk.add_blob(repeated("ajout", 5));
    cpk.add_file_record("/dir/data.cpk", {1, 1, crc32(f[0]), 0, text, 2, crc32(f[1]), 4, 3, crc32(f[2]), 2,
                                          replacement, 5, crc32(f[4]), 3, changed, 0xFFFFFFFF, appended});
    cpk.set_total_steps(22);
    write("cpk", cpk);
    script.add_file_record("/dir/data.cpk",
                           {1, 4, crc32(f[3]), 1, script.add_blob(script_container(u"Bonjour"))});
    script.add_record(make_section_code(section_kind::arm7), {0, 0, 0});
    write("script-and-bad-checksum", script);
    empty.set_total_steps(0);
    write("empty", empty);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: make_seeds CORPUS_DIR\n", stderr);
        return 2;
    }
    corpus = argv[1];
    const fuzz::fixed_game& g = fuzz::the_fixed_game();
    seed("rom_open", "game", {g.rom});
    const nds_rom rom(fuzz::scratch_file("game.nds", g.rom));
    bytes ids; // the FAT entry count, and the last id to look up
    append_le32(ids, static_cast<std::uint32_t>(rom.fat_bytes().size() / 8 * 0x10001 - 0x10000));
    seed("fnt_lookup", "game", {ids, rom.fnt_bytes()});
    seed("cpk_visit", "game", {g.cpk});
    // The header chunk at 0, as a chunk and as a bare table.
    seed("utf_parse", "game-header-chunk", {bytes{1}, g.cpk});
    seed("utf_parse", "game-header", {bytes{0}, byte_span(g.cpk).subspan(16, get_le64(g.cpk, 8))});
    seed("font_1bpp", "game", {g.cpk_files[1]});
    archive_seeds();
    return 0;
}
