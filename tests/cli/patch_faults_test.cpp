// quillmoor-patch when the file system works against it: writes that fail midway, folders it may
// not write to, sources it may not read, the same file under another name, interruption, and
// names with spaces and accents. Whatever happens, an existing destination keeps its bytes and
// no temporary file stays behind.

#include "engine/patcher.h"
#include "job_fixture.h"
#include "patch_process.h"
#include "recording_listener.h"

#include <sys/stat.h>

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr const char* error_heading = "Une erreur s'est produite:\n\n";

class patch_faults : public test::job_fixture {
protected:
    void SetUp() override
    {
        job_fixture::SetUp();
        archive = write_game_and_readme_patch();

        expected = expected_output();
    }

    // The ROM a successful run writes, made by the engine in this process.
    bytes expected_output()
    {
        const bytes packed = read_whole_file(archive);
        patcher engine;
        test::recording_listener listener;
        engine.run_patch_job(source, dir / "expected.nds", packed.data(),
                             static_cast<std::uint32_t>(packed.size()), listener);
        bytes out = read_whole_file(dir / "expected.nds");
        fs::remove(dir / "expected.nds");
        return out;
    }

    test::patch_run run(const fs::path& from, const fs::path& to, const test::patch_run_options& options = {})
    {
        return test::run_patch_process({from.string(), to.string(), "--archive", archive.string()}, options);
    }

    // Exit status 1 with the engine's message under the error heading.
    static void expect_error(const test::patch_run& r, const std::string& message)
    {
        EXPECT_TRUE(r.exited) << "killed by signal " << r.status;
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(std::string(error_heading) + message), std::string::npos) << r.err;
    }

    // For runs as "nobody" when the tests run as root: the folder must be open to it.
    void open_folder_to_everyone() { fs::permissions(dir, fs::perms::all); }

    fs::path archive;
    bytes expected;
};

TEST_F(patch_faults, a_write_that_fails_midway_leaves_the_destination_as_it_was)
{
    ASSERT_GT(expected.size(), 8192u);
    for (const std::uint64_t limit :
         {std::uint64_t{4096}, std::uint64_t{expected.size() / 2}, std::uint64_t{expected.size() - 1}}) {
        SCOPED_TRACE("file size limit " + std::to_string(limit));
        write_whole_file(destination, bytes{1, 2, 3});
        test::patch_run_options o;
        o.file_size_limit = limit;
        const test::patch_run r = run(source, destination, o);
        expect_error(r, "");
        EXPECT_EQ(read_whole_file(destination), (bytes{1, 2, 3}));
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds", "patch.bin"}));

        fs::remove(destination);
        expect_error(run(source, destination, o), "");
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "patch.bin"}));
    }
    // The last byte written is the padding's: with room for exactly the whole ROM, it succeeds.
    test::patch_run_options o;
    o.file_size_limit = expected.size();
    const test::patch_run r = run(source, destination, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_whole_file(destination), expected);
}

TEST_F(patch_faults, a_destination_folder_that_cannot_be_written_to_gets_nothing)
{
    const fs::path locked = dir / "locked";
    fs::create_directory(locked);
    write_whole_file(locked / "out.nds", bytes{7, 7});
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    open_folder_to_everyone();
    test::patch_run_options o;
    o.unprivileged = true;
    for (const char* name : {"out.nds", "new.nds"}) {
        SCOPED_TRACE(name);
        const test::patch_run r = run(source, locked / name, o);
        if (r.could_not_start)
            GTEST_SKIP() << "quillmoor-patch cannot be started as an unprivileged user here";
        expect_error(r, "nds_rom::copy_to failed - can't open output file");
    }
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(read_whole_file(locked / "out.nds"), (bytes{7, 7}));
    EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);
}

TEST_F(patch_faults, a_destination_whose_folder_is_missing_or_a_file_gets_nothing)
{
    for (const fs::path& to : {dir / "missing" / "out.nds", source / "out.nds"}) {
        SCOPED_TRACE(to.string());
        expect_error(run(source, to), "nds_rom::copy_to failed - can't open output file");
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "patch.bin"}));
    }
}

TEST_F(patch_faults, a_source_that_cannot_be_read_is_refused_before_anything_is_written)
{
    fs::permissions(source, fs::perms::none);
    open_folder_to_everyone();
    test::patch_run_options o;
    o.unprivileged = true;
    const test::patch_run r = run(source, destination, o);
    if (r.could_not_start)
        GTEST_SKIP() << "quillmoor-patch cannot be started as an unprivileged user here";
    expect_error(r, "nds_rom::nds_rom - can't open input file");
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "patch.bin"}));
}

TEST_F(patch_faults, the_source_under_another_name_is_never_the_destination)
{
    const bytes original = read_whole_file(source);
    fs::create_directory(dir / "sub");
    fs::create_hard_link(source, dir / "hard.nds");
    fs::create_symlink(source, dir / "soft.nds");
    for (const fs::path& to :
         {dir / "hard.nds", dir / "soft.nds", dir / "sub" / ".." / "game.nds", dir / "." / "game.nds"}) {
        SCOPED_TRACE(to.string());
        const test::patch_run r = run(source, to);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Erreur: Les fichiers source et destination sont identiques!\n");
    }
    // A link given as the source is the same file too.
    EXPECT_EQ(run(dir / "soft.nds", source).err,
              "Erreur: Les fichiers source et destination sont identiques!\n");
    EXPECT_EQ(read_whole_file(source), original);
    EXPECT_EQ(leftovers(),
              (std::vector<std::string>{"game.nds", "hard.nds", "patch.bin", "soft.nds", "sub"}));
}

TEST_F(patch_faults, names_with_spaces_and_accents_work_both_ways)
{
    const fs::path from_dir = dir / "Jeux à traduire";
    const fs::path to_dir = dir / "Traductions françaises (été)";
    fs::create_directory(from_dir);
    fs::create_directory(to_dir);
    const fs::path from = from_dir / "Quillmoor – édition d'origine.nds";
    const fs::path to = to_dir / "Quillmoor – version française.nds";
    fs::copy_file(source, from);
    const test::patch_run r = run(from, to);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_whole_file(to), expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(to_dir), fs::directory_iterator()), 1);
}

TEST_F(patch_faults, an_interrupt_leaves_either_nothing_or_the_whole_rom)
{
    // Interrupted when the first section starts; if the job is already past its last check of
    // the cancel flag it finishes, and then the whole ROM must be there. Many files make the
    // job long enough for the interrupt to land during the sections nearly always.
    rom_description game = test::game_description();
    for (int i = 0; i < 300; ++i)
        game.root.push_back(
            rom_fs_node::file("filler" + std::to_string(i) + ".bin", test::pattern(20000, 9)));
    write_game(game);
    expected = expected_output();
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "existing destination" : "new destination");
        if (existing)
            write_whole_file(destination, bytes{5});
        test::patch_run_options o;
        bool sent = false;
        o.on_line = [&](const std::string& line, int pid) {
            if (!sent && line.find("Application du patch en cours...") != std::string::npos) {
                ::kill(pid, SIGINT);
                sent = true;
            }
        };
        const test::patch_run r = run(source, destination, o);
        ASSERT_TRUE(r.exited) << "killed by signal " << r.status;
        ASSERT_TRUE(sent);
        if (r.status == 130) {
            EXPECT_NE(r.err.find("Annulation..."), std::string::npos) << r.err;
            if (existing)
                EXPECT_EQ(read_whole_file(destination), bytes{5});
            else
                EXPECT_FALSE(fs::exists(destination));
        } else {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(read_whole_file(destination), expected);
        }
        const auto names = leftovers();
        EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n[0] == '.'; }),
                  0);
        fs::remove(destination);
    }
}

} // namespace
} // namespace qm
