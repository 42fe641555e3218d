// The destination is only ever replaced whole: rebuilds go to a temporary file beside it, which
// is renamed over it on commit and removed otherwise.

#include "rom_test_support.h"

#include "common/file_io.h"
#include "rom/pending_output.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qm::test {
namespace {

const std::string cant_open = "nds_rom::copy_to failed - can't open output file";

class pending_output_test : public ::testing::Test {
protected:
    scratch_dir dir;
    std::filesystem::path destination = dir.path() / "out.nds";
    const bytes old_contents = {'o', 'l', 'd'};
    const bytes new_contents = {'n', 'e', 'w'};
    const std::vector<std::string> only_destination = {"out.nds"};
    const std::vector<std::string> destination_and_source = {"out.nds", "source.nds"};
};

TEST_F(pending_output_test, commit_replaces_the_destination_with_the_temporary_file)
{
    write_whole_file(destination, old_contents);
    pending_output output(destination);
    pending_output other(destination);
    EXPECT_EQ(output.temporary_path().parent_path(), dir.path());
    EXPECT_EQ(output.temporary_path().filename().string().rfind(".out.nds.tmp-", 0), 0u);
    EXPECT_NE(output.temporary_path(), other.temporary_path());
    EXPECT_EQ(dir.names(), only_destination); // nothing is created until someone writes
    write_whole_file(output.temporary_path(), new_contents);
    output.commit();
    EXPECT_EQ(read_whole_file(destination), new_contents);
    EXPECT_EQ(dir.names(), only_destination);
    EXPECT_THROW(output.commit(), std::runtime_error);
}

TEST_F(pending_output_test, uncommitted_or_failed_output_is_removed)
{
    write_whole_file(destination, old_contents);
    {
        pending_output output(destination);
        write_whole_file(output.temporary_path(), new_contents);
        pending_output moved(std::move(output)); // the moved-from one must not remove it
        EXPECT_TRUE(std::filesystem::exists(moved.temporary_path()));
    }
    pending_output discarded(destination);
    write_whole_file(discarded.temporary_path(), new_contents);
    discarded.discard();
    EXPECT_EQ(dir.names(), only_destination);
    EXPECT_EQ(read_whole_file(destination), old_contents);

    // A folder that is not empty cannot be replaced by a file.
    std::filesystem::remove(destination);
    std::filesystem::create_directories(destination / "inside");
    pending_output blocked(destination);
    write_whole_file(blocked.temporary_path(), new_contents);
    EXPECT_THROW(blocked.commit(), std::runtime_error);
    EXPECT_EQ(dir.names(), only_destination);
}

TEST_F(pending_output_test, copy_to_hands_back_a_complete_closed_file)
{
    const bytes image = build_rom_image(sample_description()).image;
    write_whole_file(destination, old_contents);
    recording_visitor identity;
    nds_rom rom(dir.write("source.nds", image));
    pending_output output = rom.copy_to(destination, identity);
    EXPECT_EQ(read_whole_file(destination), old_contents);
    const bytes written = read_whole_file(output.temporary_path());
    EXPECT_EQ(written.size(), image.size());
    EXPECT_NO_THROW(nds_rom check(output.temporary_path()));
    output.commit();
    EXPECT_EQ(read_whole_file(destination), written);

    EXPECT_EQ(error_of([&] { rom.copy_to(dir.path() / "no" / "such" / "out.nds", identity); }), cant_open);
    EXPECT_EQ(dir.names(), destination_and_source);
    // A folder cannot be opened as the output file: refused before any section is visited.
    std::filesystem::create_directory(dir.path() / "folder");
    recording_visitor untouched;
    EXPECT_EQ(error_of([&] { rom.copy_to(dir.path() / "folder", untouched); }), cant_open);
    EXPECT_TRUE(untouched.entered.empty());
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"folder", "out.nds", "source.nds"}));
}

// A file the user may not write stays as it is, even though the rebuilt ROM only replaces it by
// a rename in a folder that is writable. (The system lets an administrator write any file.)
TEST_F(pending_output_test, copy_to_refuses_a_read_only_destination)
{
    write_whole_file(destination, old_contents);
    std::filesystem::permissions(destination, std::filesystem::perms::owner_read);
    if (std::ofstream(destination, std::ios::binary | std::ios::in | std::ios::out)) {
        std::filesystem::permissions(destination, std::filesystem::perms::owner_all);
        GTEST_SKIP() << "this user may write read-only files (an administrator)";
    }
    nds_rom rom(dir.write("source.nds", build_rom_image(sample_description()).image));
    recording_visitor untouched;
    EXPECT_EQ(error_of([&] { rom.copy_to(destination, untouched); }), cant_open);
    EXPECT_TRUE(untouched.entered.empty());
    std::filesystem::permissions(destination, std::filesystem::perms::owner_all);
    EXPECT_EQ(read_whole_file(destination), old_contents);
    EXPECT_EQ(dir.names(), destination_and_source);
}

} // namespace
} // namespace qm::test
