// quillmoor-patch as users run it: exit codes, messages on stderr, nothing left behind.

#include "patch_process.h"

#include <optional>

namespace qm {
namespace {

using patch_cli = test::cli_fixture;

TEST_F(patch_cli, patches_with_an_archive_file_and_reports_progress)
{
    test::patch_run r = run(source, destination);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* text :
         {"Ouverture de la ROM source... ", "Initialisation... ", "Application du patch en cours... (0%)",
          "Application du patch en cours... (100%)", "data/story.bin",
          "L'application du patch s'est déroulée avec succès."})
        EXPECT_NE(r.err.find(text), std::string::npos) << text;
    const bytes expected = read_whole_file(destination);
    nds_rom out(destination);
    EXPECT_EQ(out.read_file(out.get_file_id("/readme.txt")), (bytes{'o', 'k'}));

    // A reader of the progress that goes away (a pipe into "head -1") must not kill the run half-way.
    test::patch_run_options unread;
    unread.stderr_unread = true;
    r = run(source, dir / "unread.nds", unread);
    EXPECT_TRUE(r.exited && r.status == 0) << r.status;
    EXPECT_EQ(read_whole_file(dir / "unread.nds"), expected);

    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds", "patch.bin", "unread.nds"}));
}

TEST_F(patch_cli, usage_path_and_archive_checks_with_their_status)
{
    std::filesystem::create_directory(dir / "folder");
    const std::string from = source.string(), to = destination.string(), folder = (dir / "folder").string();
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::optional<std::string> err; // exactly, when given
    } cases[] = {
        {{}, 2, {}},
        {{from, to, "--archive"}, 2, {}},
        {{from, to, "--bogus"}, 2, {}},
        {{"--check", from, to}, 2, {}},
        // --help and --version answer on standard output, whatever else is given.
        {{from, "--help"}, 0, ""},
        {{from, "--version"}, 0, ""},
        // The paths are checked in this order.
        {{(dir / "none.nds").string(), folder}, 1, "Erreur\u00A0: Chemin du fichier source incorrect\n"},
        {{folder, to}, 1, "Erreur\u00A0: La source est un répertoire!\n"},
        {{from, folder}, 1, "Erreur\u00A0: La destination est un répertoire!\n"},
    };
    for (const auto& c : cases) {
        const test::patch_run r = test::run_patch_process(c.arguments);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.status, c.status) << c.arguments.size() << r.err;
        EXPECT_TRUE(!c.err || r.err == *c.err) << r.err;
    }
    // A broken archive exits 1 with its message and leaves nothing (a wrong game is refused the
    // same way; the end-to-end tests check its message and explanation).
    bytes cut = read_whole_file(archive);
    cut.resize(cut.size() / 2);
    write_whole_file(dir / "broken.bin", cut);
    expect_error(test::run_patch_process({from, to, "--archive", (dir / "broken.bin").string()}),
                 "Decompression of main archive failed");
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"broken.bin", "folder", "game.nds", "patch.bin"}));
}

} // namespace
} // namespace qm
