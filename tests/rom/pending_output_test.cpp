// The destination is only ever replaced whole: rebuilds go to a temporary file beside it, which
// is renamed over it on commit and removed otherwise; the file holds what a memory sink holds.

#include "rom_test_support.h"

#include "common/file_io.h"
#include "rom/file_sink.h"
#include "rom/pending_output.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

const std::string cant_open = "nds_rom::copy_to failed - can't open output file";
using names = std::vector<std::string>;

class pending_output_test : public ::testing::Test {
protected:
    scratch_dir dir;
    std::filesystem::path destination = dir.path / "out.nds";
    const bytes old_contents = {'o', 'l', 'd'}, new_contents = {'n', 'e', 'w'};
};

TEST_F(pending_output_test, commit_replaces_the_destination_and_anything_else_removes_the_temporary_file)
{
    write_whole_file(destination, old_contents);
    {
        pending_output output(destination), other(destination);
        EXPECT_EQ(output.temporary_path().parent_path(), dir.path);
        EXPECT_NE(output.temporary_path(), other.temporary_path());
        EXPECT_EQ(dir.names(), names{"out.nds"}); // nothing is created until someone writes
        write_whole_file(output.temporary_path(), new_contents);
        pending_output moved(std::move(output)); // the moved-from one must not remove it
        EXPECT_TRUE(std::filesystem::exists(moved.temporary_path()));
        write_whole_file(other.temporary_path(), old_contents);
        other.discard();
        EXPECT_EQ(dir.names().size(), 2u);
    } // `moved` goes uncommitted
    EXPECT_EQ(dir.names(), names{"out.nds"});
    EXPECT_EQ(read_whole_file(destination), old_contents);

    pending_output output(destination);
    write_whole_file(output.temporary_path(), new_contents);
    output.commit();
    EXPECT_EQ(read_whole_file(destination), new_contents);
    EXPECT_EQ(dir.names(), names{"out.nds"});
    EXPECT_THROW(output.commit(), std::runtime_error);

    // A folder that is not empty cannot be replaced by a file.
    std::filesystem::remove(destination);
    std::filesystem::create_directories(destination / "inside");
    pending_output blocked(destination);
    write_whole_file(blocked.temporary_path(), new_contents);
    EXPECT_THROW(blocked.commit(), std::runtime_error);
    EXPECT_EQ(dir.names(), names{"out.nds"});
}

TEST_F(pending_output_test,
       a_file_sink_replaces_the_destination_only_at_the_commit_or_refuses_before_any_section)
{
    const bytes image = build_rom_image(sample_description()).image;
    write_whole_file(destination, old_contents);
    recording_visitor identity;
    nds_rom rom(dir.write("source.nds", image));
    memory_sink in_memory;
    rom.copy_to(in_memory, identity);
    {
        file_sink sink(destination);
        rom.copy_to(sink, identity);
        EXPECT_EQ(read_whole_file(destination), old_contents);
        sink.commit();
        EXPECT_EQ(read_whole_file(destination), in_memory.image());
        file_sink dropped(destination);
        rom.copy_to(dropped, identity);
    } // uncommitted: its file goes
    EXPECT_EQ(dir.names(), (names{"out.nds", "source.nds"}));

    // A folder is no output file; a missing folder and a read-only one are quillmoor-patch's fault
    // tests. Refused before any section is visited.
    std::filesystem::create_directory(dir.path / "folder");
    recording_visitor untouched;
    file_sink folder(dir.path / "folder");
    EXPECT_EQ(error_of([&] { rom.copy_to(folder, untouched); }), cant_open);
    EXPECT_TRUE(untouched.entered.empty());
    EXPECT_EQ(dir.names(), (names{"folder", "out.nds", "source.nds"}));
}

} // namespace
} // namespace qm::test
