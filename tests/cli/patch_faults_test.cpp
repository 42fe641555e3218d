// quillmoor-patch when the file system works against it: writes that fail midway, folders it may
// not write to, sources it may not read, the same file under another name, and interruption.
// Whatever happens, an existing destination keeps its bytes and no temporary file stays behind.

#include "patch_process.h"

#include <sys/stat.h>

namespace qm {
namespace {

namespace fs = std::filesystem;

class patch_faults : public test::cli_fixture {
protected:
    void SetUp() override
    {
        cli_fixture::SetUp();
        expected = expected_output();
    }

    // The ROM a successful run writes, made by the engine in this process.
    bytes expected_output()
    {
        run_job(read_whole_file(archive));
        bytes out = read_whole_file(destination);
        fs::remove(destination);
        return out;
    }

    bytes expected;
};

TEST_F(patch_faults, a_write_that_fails_midway_leaves_the_destination_as_it_was)
{
    // Past the limit, writes fail with EFBIG halfway through the ROM.
    test::patch_run_options limited;
    limited.file_size_limit = expected.size() / 2;
    write_whole_file(destination, bytes{1, 2, 3});
    expect_error(run(source, destination, limited), "");
    EXPECT_EQ(read_whole_file(destination), (bytes{1, 2, 3}));
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds", "patch.bin"}));
}

TEST_F(patch_faults, a_source_it_may_not_read_or_a_destination_it_may_not_open_gets_nothing)
{
    // A folder this user may read but not write (runs as "nobody" when the tests run as root, so
    // that permissions apply), and an unreadable source: one case per message.
    const fs::path locked = dir / "locked", unreadable = dir / "unreadable.nds";
    fs::create_directory(locked);
    write_whole_file(locked / "out.nds", bytes{7, 7});
    fs::copy_file(source, unreadable);
    fs::permissions(locked, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::permissions(unreadable, fs::perms::none);
    fs::permissions(dir, fs::perms::all);
    test::patch_run_options unprivileged;
    unprivileged.unprivileged = true;
    for (const auto& [from, to] : std::vector<std::pair<fs::path, fs::path>>{{source, locked / "out.nds"},
                                                                             {unreadable, destination}}) {
        SCOPED_TRACE(from.string() + " -> " + to.string());
        const test::patch_run r = run(from, to, unprivileged);
        if (!r.could_not_start) // nobody may not reach the binary here
            expect_error(r, from == source ? "nds_rom::copy_to failed - can't open output file"
                                           : "nds_rom::nds_rom - can't open input file");
    }
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(read_whole_file(locked / "out.nds"), (bytes{7, 7}));
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "locked", "patch.bin", "unreadable.nds"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);
}

TEST_F(patch_faults, the_source_under_another_name_is_never_the_destination)
{
    const bytes original = read_whole_file(source);
    fs::create_hard_link(source, dir / "hard.nds"); // a name no comparison of paths relates
    const test::patch_run r = run(source, dir / "hard.nds");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Erreur\u00A0: Les fichiers source et destination sont identiques!\n");
    EXPECT_EQ(read_whole_file(source), original);
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "hard.nds", "patch.bin"}));
}

TEST_F(patch_faults, an_interrupt_leaves_either_the_old_file_or_the_whole_rom)
{
    // Interrupted when the first section starts; a job already past its last cancel check finishes,
    // and then the whole ROM must be there. Many files make the interrupt land in the sections.
    rom_description game = test::game_description();
    for (int i = 0; i < 300; ++i)
        game.root.push_back(
            rom_fs_node::file("filler" + std::to_string(i) + ".bin", test::pattern(20000, 9)));
    write_game(game);
    expected = expected_output();
    write_whole_file(destination, bytes{5}); // an existing destination keeps its bytes when cancelled
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
    if (r.status == 130)
        EXPECT_NE(r.err.find("Annulation..."), std::string::npos) << r.err;
    else
        EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_whole_file(destination), r.status == 130 ? bytes{5} : expected);
    EXPECT_EQ(leftovers(),
              (std::vector<std::string>{"game.nds", "out.nds", "patch.bin"})); // no temporary file
}

TEST_F(patch_faults, an_interrupt_at_the_commit_is_reported_as_what_is_on_disk)
{
    // Just before the commit the interrupt still cancels; just after it, the ROM is in place and
    // the run is the success it is.
    for (const bool after : {false, true}) {
        SCOPED_TRACE(after ? "after" : "before");
        write_whole_file(destination, bytes{5});
        test::patch_run_options o;
        o.interrupt_at = after ? "after-commit" : "before-commit";
        const test::patch_run r = run(source, destination, o);
        ASSERT_TRUE(r.exited) << "killed by signal " << r.status;
        EXPECT_EQ(r.status, after ? 0 : 130) << r.err;
        EXPECT_EQ(read_whole_file(destination), after ? expected : bytes{5});
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds", "patch.bin"}));
    }
}

} // namespace
} // namespace qm
