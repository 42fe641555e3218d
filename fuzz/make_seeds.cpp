// Writes the seed corpus of every fuzz target: small inputs made by the program's own encoders
// and builders, so that fuzzing starts from well-formed data. Usage: make_seeds CORPUS_DIR
// (one folder per target is emptied and filled).

#include "common/file_io.h"
#include "cpk/cpk_builder.h"
#include "cpk/cpk_compress.h"
#include "engine/crc32.h"
#include "engine/patch_archive.h"
#include "engine/script_font.h"
#include "fixed_game.h"
#include "fuzz_support.h"
#include "lz/nds_lz.h"
#include "rom/nds_rom.h"
#include "tools/rom_description_generator.h"
#include "tools/rom_image_builder.h"
#include "vcdiff/vcdiff_encoder.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

using namespace qm;
using fuzz::repeated;
namespace fs = std::filesystem;

namespace {

fs::path corpus;

void seed(const std::string& target, const std::string& name, byte_span data)
{
    write_whole_file(corpus / target / name, data);
}

bytes concat(std::initializer_list<byte_span> parts)
{
    bytes out;
    for (byte_span p : parts)
        append_bytes(out, p);
    return out;
}

bytes le16(std::size_t v)
{
    bytes b;
    append_le16(b, static_cast<std::uint16_t>(v));
    return b;
}

bytes le32(std::uint32_t v)
{
    bytes b;
    append_le32(b, v);
    return b;
}

bytes text(const std::string& s)
{
    return bytes(s.begin(), s.end());
}

bytes noise(std::size_t n, std::uint64_t seed_value)
{
    seeded_random random(seed_value);
    bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(random.next());
    return out;
}

// Sample data for the codecs: text, runs, code-like words, noise, and mixes of them.
std::map<std::string, bytes> samples()
{
    seeded_random random(7);
    std::map<std::string, bytes> s;
    s["empty"] = {};
    s["one"] = {0x42};
    s["zeros-384"] = bytes(384, 0);
    s["text"] = repeated("Il etait une fois, dans la lande de Quillmoor, une plume. ", 1500);
    s["code"] = code_like_bytes(random, 2048);
    s["noise"] = noise(700, 3);
    s["runs"] = concat({bytes(300, 0xAA), noise(100, 4), bytes(500, 0), repeated("xy", 300)});
    s["noise-then-runs"] = concat({noise(400, 5), bytes(1200, 0x11)});
    return s;
}

// Small ROM images: few bytes of alignment, no padding, so that each stays a few kilobytes.
std::vector<std::pair<std::string, bytes>> roms()
{
    std::vector<std::pair<std::string, bytes>> out;
    out.emplace_back("game", fuzz::the_fixed_game().rom);
    for (std::uint64_t seed_value : {1, 2, 3}) {
        rom_generator_options o;
        o.max_files = 8;
        o.max_file_size = 200;
        o.max_overlays = 2;
        rom_description d = random_rom_description(seed_value, o);
        d.header_size = 0x180;
        d.arm9.resize(std::min<std::size_t>(d.arm9.size(), 256));
        d.arm7.resize(std::min<std::size_t>(d.arm7.size(), 128));
        for (auto* overlays : {&d.arm9_overlays, &d.arm7_overlays})
            for (rom_overlay& o : *overlays)
                o.contents.resize(std::min<std::size_t>(o.contents.size(), 300));
        d.layout = {};
        d.layout.alignment = 4;
        d.layout.pad_to_power_of_two = false;
        d.layout.shuffle_seed = seed_value == 2 ? 9 : 0;
        d.layout.gap = seed_value == 3 ? 8 : 0;
        bytes image = build_rom_image(d).image;
        // A banner offset of 0 still asks for 0x840 bytes of file.
        image.resize(std::max<std::size_t>(image.size(), 0x840), 0);
        out.emplace_back("random-" + std::to_string(seed_value), std::move(image));
    }
    rom_description bare;
    bare.header_size = 0x180;
    bare.banner = bytes(0x840, 0);
    bare.layout.alignment = 4;
    bare.layout.pad_to_power_of_two = false;
    out.emplace_back("bare", build_rom_image(bare).image);
    return out;
}

void rom_seeds()
{
    for (const auto& [name, image] : roms()) {
        seed("rom_open", name, image);
        const fuzz::memory_file file(image);
        nds_rom rom(file.path());
        const auto fat_entries = static_cast<std::uint16_t>(rom.fat_bytes().size() / 8);
        seed("fnt_lookup", name,
             concat({le16(fat_entries), le16(fat_entries ? fat_entries - 1 : 0), rom.fnt_bytes()}));
    }
}

void lz_seeds()
{
    for (const auto& [name, data] : samples()) {
        seed("blz_roundtrip", name, data);
        try {
            seed("blz_decomp", name, nds_lz_comp(data));
        } catch (const std::runtime_error&) {
            // data that does not pack (noise): its round trip seed is enough
        }
        if (data.size() >= cpk_min_compress_size) {
            seed("cpk_roundtrip", name, data);
            if (auto packed = cpk_compress(data)) {
                const bytes size = le32(static_cast<std::uint32_t>(data.size()));
                seed("cpk_decompress", name, concat({bytes{0}, size, *packed}));
                seed("cpk_decompress", name + "-in-place", concat({bytes{1}, size, *packed}));
            }
        }
    }
}

void cpk_seeds()
{
    const auto s = samples();
    std::vector<std::pair<std::string, std::vector<bytes>>> archives = {
        {"empty", {}},
        {"plain", {text("a"), noise(512, 8), noise(513, 9)}},
        {"compressed", {s.at("text"), s.at("zeros-384"), bytes{}, s.at("runs")}},
        {"game", fuzz::the_fixed_game().cpk_files},
    };
    for (const auto& [name, files] : archives) {
        cpk_builder b;
        for (const bytes& f : files)
            b.add_file(f);
        const bytes archive = b.write();
        seed("cpk_visit", name, archive);
        if (name == "empty")
            continue;
        // The header chunk at 0 and the ITOC chunk at the end, as chunks and as bare tables.
        const std::uint64_t header_length = get_le64(archive, 8);
        seed("utf_parse", name + "-header-chunk", concat({bytes{1}, archive}));
        seed("utf_parse", name + "-header",
             concat({bytes{0}, byte_span(archive).subspan(16, static_cast<std::size_t>(header_length))}));
    }
    // The ITOC chunk of the game's archive: the last chunk, found from its tag.
    const bytes& game = fuzz::the_fixed_game().cpk;
    for (std::size_t at = 0x800; at + 4 <= game.size(); at += 0x200)
        if (game[at] == 'I' && game[at + 1] == 'T' && game[at + 2] == 'O' && game[at + 3] == 'C')
            seed("utf_parse", "game-itoc-chunk", concat({bytes{1}, byte_span(game).subspan(at)}));
}

void font_seeds()
{
    const char_index_map index = make_char_index();
    const std::vector<std::pair<std::string, std::u16string>> scripts = {
        {"ascii", u"Hello, world!"},
        {"accents", u"\u00C9t\u00E9 \u00E0 l'\u00EEle, \u0153uvre \u2026 \u201Cfin\u201D"},
        {"gap", u"AC"},
        {"none", u"\u4E00\u4E01"},
        {"empty", u""},
    };
    for (const auto& [name, script] : scripts) {
        const bytes container = fuzz::script_container(script);
        const bytes font = build_font(used_chars(index, container));
        seed("font_1bpp", name, font);
        seed("script_font", name, concat({le16(0), container}));
        seed("script_font", name + "-prefix", concat({le16(8), text("PREFIX!!"), container}));
    }
    seed("font_1bpp", "game", fuzz::the_fixed_game().cpk_files[1]);
}

void vcdiff_seeds()
{
    const auto s = samples();
    const std::vector<std::tuple<std::string, bytes, bytes>> pairs = {
        {"empty", {}, {}},
        {"new", {}, s.at("text")},
        {"edit", s.at("text"),
         concat({byte_span(s.at("text")).first(500), text("CHANGED"), byte_span(s.at("text")).subspan(600)})},
        {"shuffle", s.at("code"),
         concat({byte_span(s.at("code")).subspan(1024), byte_span(s.at("code")).first(1024)})},
        {"runs", s.at("noise"), s.at("runs")},
    };
    for (const auto& [name, source, target] : pairs) {
        seed("vcdiff_roundtrip", name, concat({le16(source.size()), source, target}));
        seed("vcdiff_decode", name, concat({le16(source.size()), source, vcdiff_encode(source, target)}));
    }
}

std::vector<std::uint32_t> delta_record(archive_builder& b, const bytes& before, const bytes& after)
{
    const std::uint32_t blob = b.add_blob(vcdiff_encode(before, after));
    return {0, crc32(before), blob};
}

std::uint32_t crc(const bytes& b)
{
    return crc32(b);
}

void archive_seeds()
{
    const fuzz::fixed_game& g = fuzz::the_fixed_game();
    std::vector<std::pair<std::string, bytes>> archives;
    {
        archive_builder b;
        b.add_file_record("/readme.txt", delta_record(b, g.readme, text("Lisez-moi.")));
        b.add_record(make_section_code(section_kind::arm9),
                     delta_record(b, g.arm9, concat({g.arm9, text("!")})));
        b.add_record(make_section_code(section_kind::arm9_overlay, 0),
                     delta_record(b, g.overlay, repeated("code du module ", 900)));
        b.set_total_steps(20);
        archives.emplace_back("deltas", b.build());
    }
    {
        archive_builder b;
        const auto& f = g.cpk_files;
        const std::uint32_t script = b.add_blob(fuzz::script_container(u"\u00C9t\u00E9 \u00E0 Quillmoor"));
        const std::uint32_t replacement = b.add_blob(repeated("nouveau ", 700));
        const std::uint32_t delta = b.add_blob(vcdiff_encode(f[4], repeated("abc", 2100)));
        const std::uint32_t appended = b.add_blob(text("ajout"));
        b.add_file_record("/dir/data.cpk", {1, 1, crc(f[0]), 0, script, 2, crc(f[1]), 4, 3, crc(f[2]), 2,
                                            replacement, 5, crc(f[4]), 3, delta, 0xFFFFFFFF, appended});
        b.set_total_steps(22);
        archives.emplace_back("cpk", b.build());
    }
    {
        archive_builder b;
        const std::uint32_t script = b.add_blob(fuzz::script_container(u"Bonjour"));
        b.add_file_record("/dir/data.cpk", {1, 4, crc(g.cpk_files[3]), 1, script});
        b.add_record(make_section_code(section_kind::arm7), {0, 0, 0});
        archives.emplace_back("script-and-bad-checksum", b.build());
    }
    {
        archive_builder b;
        b.set_total_steps(0);
        archives.emplace_back("empty", b.build());
    }
    for (const auto& [name, unpacked] : archives) {
        seed("load_archive", name + "-packed", concat({bytes{0}, pack_archive(unpacked)}));
        seed("load_archive", name, concat({bytes{fuzz::archive_mode_apply, fuzz::no_cancel}, unpacked}));
    }
    seed("load_archive", "cpk-cancelled", concat({bytes{fuzz::archive_mode_apply, 12}, archives[1].second}));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: make_seeds CORPUS_DIR\n", stderr);
        return 2;
    }
    corpus = argv[1];
    for (const char* target :
         {"rom_open", "fnt_lookup", "blz_decomp", "blz_roundtrip", "utf_parse", "cpk_visit", "cpk_decompress",
          "cpk_roundtrip", "font_1bpp", "script_font", "vcdiff_decode", "vcdiff_roundtrip", "load_archive"}) {
        fs::remove_all(corpus / target);
        fs::create_directories(corpus / target);
    }
    rom_seeds();
    lz_seeds();
    cpk_seeds();
    font_seeds();
    vcdiff_seeds();
    archive_seeds();
    return 0;
}
