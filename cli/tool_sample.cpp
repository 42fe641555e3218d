// make-sample and make-patch: the sample game and patch authoring.

#include "cli/tool_command.h"
#include "common/file_io.h"
#include "rom/file_sink.h"
#include "rom/pending_output.h"
#include "tools/make_patch.h"
#include "tools/rom_folder.h"
#include "tools/sample_game.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace qm::cli {

namespace {

int make_sample_command(const args& a)
{
    sample_options options;
    std::string dir;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "--size" || a[i] == "--seed") {
            if (i + 1 == a.size())
                throw usage_error(a[i] + " needs a value");
            const std::uint64_t v = parse_number(a[++i]);
            if (a[i - 1] == "--seed") {
                options.seed = v;
            } else {
                if (v == 0 || v > 2048)
                    throw usage_error("--size must lie between 1 and 2048 (MiB)");
                options.size_mib = static_cast<std::uint32_t>(v);
            }
        } else if (dir.empty() && !(a[i].size() > 1 && a[i][0] == '-')) {
            dir = a[i];
        } else {
            throw usage_error("unexpected argument " + a[i]);
        }
    }
    if (dir.empty())
        throw usage_error("missing DIR");
    const auto start = std::chrono::steady_clock::now();
    const sample_summary s = make_sample(dir, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s/%s: %llu bytes (%u files in %u folders, %u overlays, %u CPK archives of %u entries)\n",
                dir.c_str(), sample_original_name, static_cast<unsigned long long>(s.original_bytes), s.files,
                s.directories, s.overlays, s.archives, s.archive_entries);
    std::printf("%s/%s: %llu bytes (the French translation)\n", dir.c_str(), sample_translation_name,
                static_cast<unsigned long long>(s.translated_bytes));
    std::printf("made in %.2f s (size %u MiB, seed %llu)\n", seconds, options.size_mib,
                static_cast<unsigned long long>(options.seed));
    return 0;
}

// One line per script character that the built-in font lacks.
std::string glyph_gap_line(const script_glyph_gap& gap)
{
    return gap.archive + " entry " + std::to_string(gap.entry) + ": " +
           describe_character(gap.glyph.character) + " has no glyph in the built-in font (" +
           std::to_string(gap.glyph.count) + (gap.glyph.count == 1 ? " time)" : " times)");
}

// A folder made by rom-unpack as the translation is packed first, into a temporary file beside
// `out` that is removed again whatever happens: the patch then turns the original into exactly
// what rom-pack makes of the folder.
authored_patch make_patch_from(const std::filesystem::path& original, const std::filesystem::path& translated,
                               const std::filesystem::path& out)
{
    std::error_code error;
    if (!std::filesystem::is_directory(translated, error))
        return make_patch(original, translated);
    const pending_output packed(out); // for its temporary name only: never committed
    file_sink sink(packed.temporary_path());
    pack_rom_folder(translated, sink);
    sink.commit();
    return make_patch(original, packed.temporary_path());
}

int make_patch_command(const args& a)
{
    args files;
    bool strict = false;
    for (const std::string& arg : a) {
        if (arg == "--strict")
            strict = true;
        else
            files.push_back(arg);
    }
    expect_args(files, 3, 3);
    const auto start = std::chrono::steady_clock::now();
    const authored_patch p = make_patch_from(files[0], files[1], files[2]);
    for (const script_glyph_gap& gap : p.missing_glyphs)
        std::cerr << "quillmoor-tool make-patch: " << (strict ? "" : "warning: ") << glyph_gap_line(gap)
                  << "\n";
    if (strict && !p.missing_glyphs.empty())
        throw std::runtime_error("make-patch - " + std::to_string(p.missing_glyphs.size()) +
                                 " script characters have no glyph in the built-in font; nothing written");
    write_whole_file(files[2], p.packed);
    const std::filesystem::path card = card_path_for(files[2]);
    const std::string card_text = write_identity_card(p.card);
    write_whole_file(card,
                     byte_span(reinterpret_cast<const std::uint8_t*>(card_text.data()), card_text.size()));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << files[2] << ": the patch from " << files[0] << " to " << files[1] << "\n"
              << format_patch_report(p.report) << "card:        " << card.string() << " ("
              << p.card.sections.size() << " changed sections)\n"
              << "made in " << std::fixed;
    std::cout.precision(2);
    std::cout << seconds << " s\n";
    if (!p.missing_glyphs.empty())
        std::cout << p.missing_glyphs.size()
                  << " script characters have no glyph in the built-in font (see above)\n";
    return 0;
}

constexpr tool_command commands[] = {
    {"make-sample", "DIR [--size MIB] [--seed N]",
     "write the sample game DIR/quillmoor.nds and its translation DIR/quillmoor-fr.nds", make_sample_command,
     "DIR       the folder to write into (created when missing)\n--size M  the ROMs' size class in MiB, 1 to "
     "2048 (8 when not given)\n--seed N  another sample (1 when not given)",
     "DIR/quillmoor.nds (the original release) and DIR/quillmoor-fr.nds (its translation)", nullptr,
     "quillmoor-tool make-sample sample --size 1"},
    {"make-patch", "ORIGINAL.nds TRANSLATED OUT [--strict]",
     "make (and check) the packed patch archive that turns ORIGINAL into TRANSLATED, and its identity "
     "card OUT.card",
     make_patch_command,
     "ORIGINAL.nds  the game's release, as players have it\nTRANSLATED    the translated ROM (the same "
     "file names and sections, any contents), or a\n              folder made by rom-unpack, packed as "
     "rom-pack packs it\nOUT           the packed archive to write\n--strict      "
     "refuse (write nothing) when a translated script holds a character that\n              the built-in "
     "font lacks, instead of warning",
     "OUT and its identity card OUT.card, once patching ORIGINAL with OUT gives TRANSLATED (a\n"
     "folder: the ROM that rom-pack makes of it) byte for byte; on stdout, one line per changed\n"
     "section and the archive's figures; on stderr, a warning per script character the built-in\n"
     "font lacks: archive path, entry id, the character and its U+ code",
     "0 written, 1 error (the ROMs cannot be related, the folder is refused, the check fails,\n"
     "or --strict and a character without a glyph): nothing written, 2 bad usage",
     "quillmoor-tool make-patch quillmoor.nds quillmoor-fr.nds my.patch --strict\n"
     "quillmoor-tool make-patch quillmoor.nds work my.patch   # work/ made by rom-unpack"},
};

} // namespace

std::span<const tool_command> sample_tool_commands()
{
    return commands;
}

} // namespace qm::cli
