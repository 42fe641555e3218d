// Writes the seeds that depend on the fixed game and on the patch archive format:
// small inputs made by the program's own builders, so that fuzzing starts from well-formed data.
// Usage: make_seeds CORPUS_DIR (one folder per target). Seeds of the same name are replaced;
// the other files of the corpus (the codecs' samples, random ROMs, packed and cancelled variants
// of the archives, inputs that fuzzing found and that were kept) stay as they are.

#include "common/file_io.h"
#include "engine/crc32.h"
#include "engine/patch_archive.h"
#include "fuzz_support.h"
#include "rom/rom_visitor.h"
#include "vcdiff/vcdiff_encoder.h"

#include <cstdio>

using namespace qm;
using fuzz::repeated;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: make_seeds CORPUS_DIR\n", stderr);
        return 2;
    }
    const std::filesystem::path corpus = argv[1];
    const auto seed = [&](const std::string& target, const std::string& name,
                          std::initializer_list<byte_span> parts) {
        bytes data;
        for (byte_span p : parts)
            append_bytes(data, p);
        std::filesystem::create_directories(corpus / target);
        write_whole_file(corpus / target / name, data);
    };
    const fuzz::fixed_game& g = fuzz::the_fixed_game();
    const auto& f = g.cpk_files;
    seed("rom_open", "game", {g.rom});
    seed("cpk_visit", "game", {g.cpk});
    seed("utf_parse", "game-header-chunk", {bytes{1}, g.cpk}); // the header chunk at 0
    seed("font_1bpp", "game", {f[1]});

    archive_builder deltas, cpk;
    const auto delta = [&](const bytes& before, const bytes& after) {
        return std::vector<std::uint32_t>{0, crc32(before), deltas.add_blob(vcdiff_encode(before, after))};
    };
    deltas.add_file_record("/readme.txt", delta(g.readme, repeated("Lisez-moi.", 10)));
    deltas.add_record(make_section_code(section_kind::arm9), delta(g.arm9, repeated("nouveau code ", 700)));
    deltas.add_record(make_section_code(section_kind::arm9_overlay, 0),
                      delta(g.overlay, repeated("code du module ", 900)));
    deltas.set_total_steps(20);
    seed("load_archive", "deltas", {bytes{fuzz::archive_mode_apply, fuzz::no_cancel}, deltas.build()});
    // Every kind of CPK entry record: a script, a font conversion, a replacement, a delta, an
    // appended entry. The script container's UTF-16LE text ("Été") lies between the offsets at
    // bytes 24 and 28.
    bytes script(32, 0);
    put_le32(script, 24, 32);
    put_le32(script, 28, 38);
    append_bytes(script, bytes{0xC9, 0, 't', 0, 0xE9, 0});
    const std::uint32_t text = cpk.add_blob(script);
    const std::uint32_t replacement = cpk.add_blob(repeated("nouveau ", 700));
    const std::uint32_t changed = cpk.add_blob(vcdiff_encode(f[4], repeated("abc", 2100)));
    const std::uint32_t appended = cpk.add_blob(repeated("ajout", 5));
    cpk.add_file_record("/dir/data.cpk", {1, 1, crc32(f[0]), 0, text, 2, crc32(f[1]), 4, 3, crc32(f[2]), 2,
                                          replacement, 5, crc32(f[4]), 3, changed, 0xFFFFFFFF, appended});
    cpk.set_total_steps(22);
    seed("load_archive", "cpk", {bytes{fuzz::archive_mode_apply, fuzz::no_cancel}, cpk.build()});
    return 0;
}
