// quillmoor-patch as users run it: exit codes, messages on stderr, nothing left behind.

#include "patch_process.h"

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
    nds_rom out(destination);
    EXPECT_EQ(out.read_file(out.get_file_id("/readme.txt")), (bytes{'o', 'k'}));

    std::filesystem::remove(destination);
    r = run(source, destination, {}, {"--quiet"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(patch_cli, timing_lists_every_phase_once_the_job_is_done)
{
    ASSERT_EQ(run(source, destination, {}, {"--quiet"}).status, 0);
    const bytes expected = read_whole_file(destination);
    std::filesystem::remove(destination);

    const test::patch_run r = run(source, destination, {}, {"--quiet", "--timing"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_whole_file(destination), expected);
    ASSERT_EQ(r.err.rfind("timing ", 0), 0u) << r.err; // with --quiet, nothing else
    std::size_t at = 0;
    for (const char* label : {"archive unpacking", "reading", "CPK decoding", "CPK patching",
                              "CPK re-compression", "waiting for workers", "LZ packing", "writing",
                              "rest of the job", "job thread", "worker threads", "total"}) {
        const std::size_t found = r.err.find(std::string("\n  ") + label + " ", at);
        EXPECT_NE(found, std::string::npos) << label << " in\n" << r.err;
        at = found == std::string::npos ? at : found + 1;
    }
    EXPECT_EQ(r.err.back(), '\n');
}

// A reader of the progress that goes away (a pipe into "head -1") must not kill the run half-way.
TEST_F(patch_cli, a_closed_stderr_does_not_stop_the_run)
{
    test::patch_run_options options;
    options.stderr_unread = true;
    const test::patch_run r = run(source, destination, options);
    EXPECT_TRUE(r.exited) << "killed by signal " << r.status;
    EXPECT_EQ(r.status, 0);
    nds_rom out(destination);
    EXPECT_EQ(out.read_file(out.get_file_id("/readme.txt")), (bytes{'o', 'k'}));
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds", "patch.bin"}));
}

TEST_F(patch_cli, errors_exit_1_with_the_message_and_leave_nothing)
{
    rom_description d = test::game_description();
    d.game_code = "ABCD";
    write_game(d);
    test::patch_run r = run(source, destination);
    expect_error(r, "Input is not a valid Quillmoor game\n");
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "patch.bin"}));

    bytes cut = read_whole_file(archive);
    cut.resize(cut.size() / 2);
    write_whole_file(dir / "broken.bin", cut);
    write_game(test::game_description());
    expect_error(run({source.string(), destination.string(), "--archive", (dir / "broken.bin").string()}),
                 "Decompression of main archive failed");
    EXPECT_FALSE(std::filesystem::exists(destination));
}

TEST_F(patch_cli, path_checks_come_first_in_their_order)
{
    std::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(run({(dir / "none.nds").string(), (dir / "folder").string()}).err,
              "Erreur: Chemin du fichier source incorrect\n");
    EXPECT_EQ(run({(dir / "folder").string(), destination.string()}).err,
              "Erreur: La source est un répertoire!\n");
    const test::patch_run r = run({source.string(), (dir / "folder").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Erreur: La destination est un répertoire!\n");
}

TEST_F(patch_cli, bad_usage_exits_2)
{
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{},
                                                      {source.string()},
                                                      {source.string(), destination.string(), "--archive"},
                                                      {source.string(), destination.string(), "--bogus"},
                                                      {"--check"},
                                                      {"--check", source.string(), destination.string()}}) {
        const test::patch_run r = run(arguments);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.status, 2) << arguments.size();
    }
    // --help and --version answer on standard output and exit 0, whatever else is given.
    for (const char* option : {"--help", "--version"}) {
        const test::patch_run r = run({source.string(), option});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.err, "") << option;
    }
}

} // namespace
} // namespace qm
