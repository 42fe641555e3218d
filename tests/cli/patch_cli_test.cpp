// quillmoor-patch as users run it: exit codes, messages on stderr, nothing left behind.

#include "job_fixture.h"

#include <cstdio>
#include <sys/wait.h>

namespace qm {
namespace {

struct result {
    int status;
    std::string err;
};

result run_patch(const std::string& arguments)
{
    std::string cmd = std::string(QM_PATCH_EXE) + " " + arguments + " 2>&1 >/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    int raw = ::pclose(p);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out};
}

std::string q(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

class patch_cli : public test::job_fixture {
protected:
    void SetUp() override
    {
        job_fixture::SetUp();
        archive = write_game_and_readme_patch();
    }
    std::filesystem::path archive;
};

TEST_F(patch_cli, patches_with_an_archive_file_and_reports_progress)
{
    result r = run_patch(q(source) + " " + q(destination) + " --archive " + q(archive));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Ouverture de la ROM source... "), std::string::npos);
    EXPECT_NE(r.err.find("Initialisation... "), std::string::npos);
    EXPECT_NE(r.err.find("Application du patch en cours... (0%)"), std::string::npos);
    EXPECT_NE(r.err.find("Application du patch en cours... (100%)"), std::string::npos);
    EXPECT_NE(r.err.find("data/story.bin"), std::string::npos);
    EXPECT_NE(r.err.find("L'application du patch s'est déroulée avec succès."), std::string::npos);
    nds_rom out(destination);
    EXPECT_EQ(out.read_file(out.get_file_id("/readme.txt")), (bytes{'o', 'k'}));

    std::filesystem::remove(destination);
    r = run_patch(q(source) + " " + q(destination) + " --quiet --archive " + q(archive));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(patch_cli, timing_lists_every_phase_once_the_job_is_done)
{
    result plain = run_patch(q(source) + " " + q(destination) + " --quiet --archive " + q(archive));
    ASSERT_EQ(plain.status, 0);
    const bytes expected = read_whole_file(destination);
    std::filesystem::remove(destination);

    result r = run_patch(q(source) + " " + q(destination) + " --quiet --timing --archive " + q(archive));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_whole_file(destination), expected);
    ASSERT_EQ(r.err.rfind("timing:\n", 0), 0u) << r.err; // with --quiet, nothing else
    std::size_t at = 0;
    for (const char* label : {"archive unpacking", "reading", "CPK decoding", "CPK re-compression",
                              "waiting for compression", "LZ packing", "writing", "rest of the job", "total"}) {
        const std::size_t found = r.err.find(std::string("\n  ") + label + " ", at);
        EXPECT_NE(found, std::string::npos) << label << " in\n" << r.err;
        at = found == std::string::npos ? at : found + 1;
    }
    EXPECT_EQ(r.err.back(), '\n');
}

TEST_F(patch_cli, errors_exit_1_with_the_message_and_leave_nothing)
{
    rom_description d = test::game_description();
    d.game_code = "ABCD";
    write_game(d);
    result r = run_patch(q(source) + " " + q(destination) + " --archive " + q(archive));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Une erreur s'est produite:\n\nInput is not a valid Quillmoor game\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "patch.bin"}));

    bytes cut = read_whole_file(archive);
    cut.resize(cut.size() / 2);
    write_whole_file(dir / "broken.bin", cut);
    write_game(test::game_description());
    r = run_patch(q(source) + " " + q(destination) + " --archive " + q(dir / "broken.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Decompression of main archive failed"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(destination));
}

TEST_F(patch_cli, path_checks_come_first_in_their_order)
{
    std::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(run_patch(q(dir / "none.nds") + " " + q(dir / "folder")).err,
              "Erreur: Chemin du fichier source incorrect\n");
    EXPECT_EQ(run_patch(q(dir / "folder") + " " + q(destination)).err, "Erreur: La source est un répertoire!\n");
    EXPECT_EQ(run_patch(q(source) + " " + q(dir / "folder")).err, "Erreur: La destination est un répertoire!\n");
    result r = run_patch(q(source) + " " + q(dir / "folder" / ".." / "game.nds"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Erreur: Les fichiers source et destination sont identiques!\n");
}

TEST_F(patch_cli, bad_usage_exits_2)
{
    EXPECT_EQ(run_patch("").status, 2);
    EXPECT_EQ(run_patch(q(source)).status, 2);
    EXPECT_EQ(run_patch(q(source) + " " + q(destination) + " --archive").status, 2);
    EXPECT_EQ(run_patch(q(source) + " " + q(destination) + " --bogus").status, 2);
}

} // namespace
} // namespace qm
