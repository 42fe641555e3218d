// make-sample and make-patch: the sample game and patch authoring.

#include "cli/tool_command.h"
#include "common/file_io.h"
#include "tools/make_patch.h"
#include "tools/sample_game.h"

#include <chrono>
#include <cstdio>
#include <iostream>

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

int make_patch_command(const args& a)
{
    expect_args(a, 3, 3);
    const auto start = std::chrono::steady_clock::now();
    const authored_patch p = make_patch(a[0], a[1]);
    write_whole_file(a[2], p.packed);
    const std::filesystem::path card = card_path_for(a[2]);
    const std::string card_text = write_identity_card(p.card);
    write_whole_file(card,
                     byte_span(reinterpret_cast<const std::uint8_t*>(card_text.data()), card_text.size()));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << a[2] << ": the patch from " << a[0] << " to " << a[1] << "\n"
              << format_patch_report(p.report) << "card:        " << card.string() << " ("
              << p.card.sections.size() << " changed sections)\n"
              << "made in " << std::fixed;
    std::cout.precision(2);
    std::cout << seconds << " s\n";
    return 0;
}

constexpr tool_command commands[] = {
    {"make-sample", "DIR [--size MIB] [--seed N]",
     "write the sample game DIR/quillmoor.nds and its translation DIR/quillmoor-fr.nds", make_sample_command},
    {"make-patch", "ORIGINAL.nds TRANSLATED.nds OUT",
     "make (and check) the packed patch archive that turns ORIGINAL into TRANSLATED, and its identity "
     "card OUT.card",
     make_patch_command},
};

} // namespace

std::span<const tool_command> sample_tool_commands()
{
    return commands;
}

} // namespace qm::cli
