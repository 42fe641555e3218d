// The targets: the readers of outside data (ROM images, file name tables, @UTF tables, CPK
// archives, fonts, scripts, patch archives) and what is built from what they read; the
// compressors' and the delta coder's decoders on input from anywhere, and their encoders' round
// trips.

#include "cpk/cpk_compress.h"
#include "cpk/cpk_decompress.h"
#include "cpk/cpk_visit.h"
#include "cpk/utf_table.h"
#include "engine/char_table.h"
#include "engine/font_depth.h"
#include "engine/patch_archive.h"
#include "engine/patcher.h"
#include "engine/script_font.h"
#include "fuzz_support.h"
#include "lz/nds_lz.h"
#include "rom/fnt.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "vcdiff/vcdiff_decoder.h"
#include "vcdiff/vcdiff_encoder.h"

#include <algorithm>
#include <memory>

namespace qm::fuzz {

// The message a rebuild fails with, empty when it succeeds.
std::string outcome_of(nds_rom& rom, rom_sink& sink)
{
    std::string message;
    attempt([&] {
        try {
            identity_visitor visitor;
            rom.copy_to(sink, visitor);
        } catch (const std::runtime_error& e) {
            message = e.what();
            throw;
        }
    });
    return message;
}

// A ROM image: opening and validation, the section list and an identity rebuild, from memory to
// memory. A rebuild into nothing (a check) fails exactly when this one does, with its message.
void rom_open(byte_span input)
{
    std::unique_ptr<nds_rom> rom;
    if (!attempt([&] { rom = std::make_unique<nds_rom>(std::make_unique<memory_source>(input)); }))
        return; // not a ROM: refusing it is all that is asked
    for (const rom_section& s : rom->list_sections())
        expect(in_bounds(rom->size(), s.offset, s.size), "section outside the file");
    memory_sink image;
    null_sink nothing;
    const std::string failure = outcome_of(*rom, image);
    expect(outcome_of(*rom, nothing) == failure, "a check and a rebuild disagree");
    if (!failure.empty())
        return;
    // The rebuilt ROM opens again (unless it is too short for the banner block that a banner
    // offset of 0 still asks for) and holds the same binaries and FNT.
    std::unique_ptr<nds_rom> rebuilt;
    if (attempt([&] { rebuilt = std::make_unique<nds_rom>(std::make_unique<memory_source>(image.image())); }))
        expect(rebuilt->read_arm9(false) == rom->read_arm9(false) &&
                   rebuilt->read_arm7() == rom->read_arm7() && rebuilt->fnt_bytes() == rom->fnt_bytes() &&
                   rebuilt->fat_bytes().size() == rom->fat_bytes().size(),
               "binaries, FNT or FAT size differ");
    else
        expect(get_le32(rom->header(), nds::hdr_banner_offset) == 0 &&
                   image.image().size() < nds::banner_length,
               "rebuilt ROM does not open");
}

// Path and file-id lookups over a file name table. Input: u16 FAT entry count, u16 file id to
// look up, then the FNT. On a table that passes the validity test, the walks complete, a listed
// file has a path, a resolved path names an id that the reverse lookup knows, and the one-walk
// path index agrees with a walk per id. On a table that fails it, the lookups may only refuse.
void fnt_lookup(byte_span input)
{
    input_reader in(input);
    const std::uint16_t fat_entries = in.u16();
    const std::uint16_t probe = in.u16();
    const byte_span fnt = in.all();
    if (!fnt_is_valid(fnt, fat_entries)) {
        // The cursor's own bounds checks are what keeps an unchecked table from being read
        // outside its bytes; any error is fine here, a crash is not.
        try {
            (void)fnt_list_files(fnt), (void)fnt_path_of(fnt, probe), (void)fnt_find_file(fnt, "/a/b");
        } catch (const std::runtime_error&) {
        }
        return;
    }
    const fnt_path_index index(fnt);
    expect(index.path_of(probe) == fnt_path_of(fnt, probe), "index and walk disagree on the probe");
    // Each lookup walks the table afresh, so only the first files are looked up both ways.
    const auto files = fnt_list_files(fnt);
    for (std::size_t i = 0; i < files.size() && i < max_lookups; ++i) {
        const auto& [id, name] = files[i];
        const std::optional<std::string> walked = fnt_path_of(fnt, id);
        expect(id < fat_entries && walked && index.path_of(id) == walked,
               "listed file beyond the FAT, without path or with another one in the index");
        if (const auto found = fnt_find_file(fnt, "/" + name))
            expect(fnt_path_of(fnt, *found).has_value(), "resolved id unknown to the reverse lookup");
    }
}

// @UTF tables (first byte even) or table chunks (odd). A table that parses writes out to bytes
// that parse again and write out the same (so the same name, rows and columns): parsing and
// writing agree on every field they keep.
void utf_parse(byte_span input)
{
    input_reader in(input);
    const bool chunk = in.u8() & 1;
    const byte_span rest = in.all();
    utf_table table, again;
    bytes written;
    if (!attempt([&] { table = chunk ? utf_table::from_chunk(rest) : utf_table::parse(rest); }) ||
        !attempt([&] { written = table.serialize(); }))
        return; // more columns than a written header can describe
    try {
        again = utf_table::parse(written);
    } catch (const std::runtime_error& e) {
        // Parsing may cost at most so much per byte it is given, and writing drops the input's
        // slack: a table of empty rows near that bound can be refused from its smaller written
        // form. Any other refusal is a disagreement between writer and parser.
        expect(std::string(e.what()) == "utf_table::parse failed - table too large for its bytes",
               "written table does not parse");
        return;
    }
    expect(again.serialize() == written, "writing the table again changes it");
}

// CPK archives: the table of contents and every entry, expanded. Every entry handed out has the
// size its ITOC row gives, in the order of the rows.
void cpk_visit(byte_span archive)
{
    std::vector<cpk_entry> entries;
    if (!attempt([&] { entries = cpk_entries(archive); }))
        return;
    std::size_t n = 0;
    if (attempt([&] {
            qm::cpk_visit(archive, [&](std::uint32_t id, byte_span file) {
                expect(n < entries.size() && entries[n].id == id && entries[n].extract_size == file.size(),
                       "entries visited out of order or of another size than their ITOC rows give");
                ++n;
            });
        }))
        expect(n == entries.size(), "not every entry was visited");
}

// Font depth conversion of an NFTR font. A converted font is as long as its header says, and its
// glyph block is described at one bit per pixel.
void font_1bpp(byte_span input)
{
    bytes font;
    if (attempt([&] { font = convert_font_to_1bpp(input); }))
        expect(font.size() >= 0x3C && get_le32(font, 0x08) == font.size() && get_u8(font, 0x3A) == 1 &&
                   in_bounds(font.size(), 0x2C, get_le32(font, 0x30)),
               "converted font: bad length, depth or glyph block");
}

// A script container through the script font builder: the used characters, the generated font
// and the assembled script entry. Input: u16 prefix length K, K bytes of the old entry's prefix,
// then the container.
void script_font(byte_span input)
{
    static const char_index_map index = make_char_index();
    input_reader in(input);
    const byte_span prefix = in.part();
    const byte_span container = in.all();
    used_char_set used;
    if (!attempt([&] { used = used_chars(index, container); }))
        return;
    const bytes font = build_font(used);
    expect(font.size() >= 16 && get_le32(font, 8) == font.size(), "font length differs from its header");
    // One glyph per used character (the space alone when none is used): the width block, right
    // after the glyph block, names the last glyph.
    expect(get_le16(font, std::size_t{0x2C + 10} + get_le32(font, 0x30)) + std::size_t{1} ==
               std::max<std::size_t>(used.count(), 1),
           "glyph count differs from the characters used");
    // The entry: the prefix, the script and the font, each in a chunk of its own.
    const bytes entry =
        assemble_script_entry(prefix, static_cast<std::uint32_t>(prefix.size()), container, font);
    expect(entry.size() == prefix.size() + container.size() + (16 + font.size() + 15) / 16 * 16 + 32,
           "entry length");
}

// The patch archive against the fixed game ROM, whose paths the archive's file records name.
// The first byte chooses what the rest is:
//   even: a packed archive, unpacked and indexed by load_archive;
//   odd:  a cancel step byte, then an unpacked archive, which is packed here so that mutations
//         reach the records and blobs, loaded, and applied to the whole fixed game: every record
//         type, CPK entry patching, script fonts, font conversion, appended entries and a cancel
//         at the chosen progress position.
void load_archive(byte_span input)
{
    nds_rom rom(std::make_unique<memory_source>(byte_span(the_fixed_game().rom)));
    struct cancelling_listener : silent_listener {
        patcher engine;
        std::uint32_t cancel_at = no_cancel;
        void set_position(std::uint32_t position) override
        {
            if (position == cancel_at)
                engine.request_cancel();
        }
    } listener;
    listener.engine.attach(&rom, &listener);
    input_reader in(input);
    if (!(in.u8() & archive_mode_apply)) {
        attempt([&] { listener.engine.load_archive(in.all()); });
        return;
    }
    listener.cancel_at = in.u8();
    if (!attempt([&] { listener.engine.load_archive(pack_archive(in.all())); }))
        return;
    memory_sink patched;
    attempt([&] { rom.copy_to(patched, listener.engine); });
}

// Backward LZ expansion of a stored overlay: a form that expands gives exactly the length its
// footer declares (the stored length plus the footer's word, modulo 2^32).
void blz_decomp(byte_span stored)
{
    bytes expanded;
    if (attempt([&] { expanded = nds_lz_inplace_decomp(bytes(stored.begin(), stored.end())); }))
        expect(stored.size() >= 4 &&
                   expanded.size() ==
                       static_cast<std::uint32_t>(stored.size() + get_le32(stored, stored.size() - 4)),
               "expanded length differs from the declared one");
}

// Backward LZ packing: whatever the data, the packed form expands in place to the data again.
void blz_roundtrip(byte_span data)
{
    bytes packed, expanded;
    if (!attempt([&] { packed = nds_lz_comp(data); }))
        return; // only data past the format's 16 MiB region can be refused
    expect(attempt([&] { expanded = nds_lz_inplace_decomp(packed); }) && std::ranges::equal(expanded, data),
           "packed form does not expand to the data");
}

// Expansion of a CPK entry with a claimed expanded size up to the largest one that the archive
// reader lets through for the stored length. Input: a byte choosing expansion into a separate
// buffer or in place, the claimed size (u32), the entry.
void cpk_decompress(byte_span input)
{
    input_reader in(input);
    const bool in_place = in.u8() & 1;
    const std::uint32_t claimed = in.u32();
    const byte_span src = in.all();
    const auto t = static_cast<std::uint32_t>(src.size());
    // cpk_visit refuses larger claims before allocating; the function itself sees only these.
    const std::uint64_t n = claimed % (cpk_max_extract_size(t) + 1);
    bytes dst(std::max<std::uint64_t>(n, t));
    if (in_place)
        std::ranges::copy(src, dst.begin());
    const byte_span from = in_place ? byte_span(dst).first(t) : src;
    attempt([&] { qm::cpk_decompress(from, mutable_byte_span(dst).first(n)); });
}

// CPK entry compression: a compressed form is shorter than the file, a multiple of 4 bytes long,
// and expands to exactly the file.
void cpk_roundtrip(byte_span file)
{
    const std::optional<bytes> packed = cpk_compress(file);
    if (!packed)
        return;
    expect(file.size() >= cpk_min_compress_size, "a short file was compressed");
    expect(packed->size() < file.size() && packed->size() % 4 == 0, "compressed form of a bad length");
    bytes expanded(file.size());
    expect(attempt([&] { qm::cpk_decompress(*packed, expanded); }) && std::ranges::equal(expanded, file),
           "compressed form does not expand to the file");
}

// VCDIFF decoding against a source from anywhere. Input: u16 source length, the source, then the
// delta. A failed decode leaves no output behind.
void vcdiff_decode(byte_span input)
{
    input_reader in(input);
    const byte_span source = in.part();
    bytes target{1, 2, 3};
    std::string why;
    if (!qm::vcdiff_decode(source, in.all(), target, &why))
        expect(target.empty() && !why.empty(), "failed decode left output or no reason");
}

// VCDIFF encoding: the delta from any source to any target decodes against the source to
// exactly the target. Input: u16 source length, the source, then the target.
void vcdiff_roundtrip(byte_span input)
{
    input_reader in(input);
    const byte_span source = in.part();
    const byte_span target = in.all();
    bytes decoded;
    std::string why;
    expect(qm::vcdiff_decode(source, vcdiff_encode(source, target), decoded, &why),
           "delta does not decode: " + why);
    expect(std::ranges::equal(decoded, target), "round trip changed the target");
}

} // namespace qm::fuzz
