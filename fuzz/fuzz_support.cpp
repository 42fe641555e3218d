#include "fuzz_support.h"

#include "cpk/cpk_builder.h"
#include "engine/script_font.h"
#include "tools/rom_image_builder.h"

#include <cstdio>
#include <cstdlib>

namespace qm::fuzz {

void expect(bool holds, const std::string& what)
{
    if (!holds) {
        std::fprintf(stderr, "property failed: %s\n", what.c_str());
        std::abort();
    }
}

bytes repeated(const std::string& s, std::size_t n)
{
    bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(s[i % s.size()]);
    return out;
}

namespace {

bytes noise(std::size_t n, std::uint32_t seed)
{
    bytes out(n);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return out;
}

fixed_game make_game()
{
    fixed_game g;
    // Entry 1: an old script entry whose first 8 bytes are the prefix that a new entry keeps (the
    // word at offset 12 says so). Entry 2: a 2-bit font. Entries 3 and 5 compress, 4 does not.
    bytes script_entry = repeated("SCRIPT00", 64);
    put_le32(script_entry, 12, 8);
    g.cpk_files = {script_entry, build_font(used_char_set().set(33).set(34).set(100)),
                   repeated("the quick brown fox ", 600), noise(100, 4), repeated("ab", 2000)};
    cpk_builder archive;
    for (const bytes& f : g.cpk_files)
        archive.add_file(f);
    g.cpk = archive.write();
    g.readme = repeated("Read me. ", 200);
    g.overlay = repeated("overlay code ", 1000);

    rom_description d;
    d.title = "QLMOR";
    d.game_code = "YQLE";
    d.header_size = 0x200;
    d.arm9 = noise(600, 1);
    d.arm9_footer = std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8};
    d.arm7 = noise(300, 2);
    d.root = {rom_fs_node::file("readme.txt", g.readme),
              rom_fs_node::directory("dir",
                                     {rom_fs_node::file("empty.bin"), rom_fs_node::file("data.cpk", g.cpk)})};
    rom_overlay packed;
    packed.id = 0;
    packed.contents = g.overlay;
    packed.compressed = true;
    rom_overlay plain;
    plain.id = 5;
    plain.contents = noise(200, 3);
    d.arm9_overlays = {packed};
    d.arm7_overlays = {plain};
    d.banner = noise(0x840, 5);
    d.layout.alignment = 0x10;
    d.layout.pad_to_power_of_two = false;
    g.rom = build_rom_image(d).image;
    g.arm9 = d.arm9;
    append_bytes(g.arm9, bytes{0x21, 0x06, 0xC0, 0xDE, 1, 2, 3, 4, 5, 6, 7, 8});
    return g;
}

} // namespace

const fixed_game& the_fixed_game()
{
    static const fixed_game game = make_game();
    return game;
}

} // namespace qm::fuzz
