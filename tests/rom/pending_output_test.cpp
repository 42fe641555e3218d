// The destination is only ever replaced whole: rebuilds go to a temporary file beside it, which
// is renamed over it on commit and removed otherwise.

#include "rom_test_support.h"

#include "common/file_io.h"
#include "rom/nds_rom.h"
#include "rom/pending_output.h"
#include "tools/rom_image_builder.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

const bytes old_contents = {'o', 'l', 'd'};

class pending_output_test : public ::testing::Test {
protected:
    scratch_dir dir;
    std::filesystem::path destination = dir.path() / "out.nds";
};

TEST_F(pending_output_test, temporary_name_is_fresh_hidden_and_beside_the_destination)
{
    pending_output a(destination);
    pending_output b(destination);
    EXPECT_EQ(a.temporary_path().parent_path(), dir.path());
    EXPECT_EQ(a.temporary_path().filename().string().rfind(".out.nds.tmp-", 0), 0u);
    EXPECT_NE(a.temporary_path(), b.temporary_path());
    EXPECT_TRUE(dir.names().empty()); // nothing is created until someone writes
}

TEST_F(pending_output_test, commit_replaces_the_destination)
{
    write_whole_file(destination, old_contents);
    pending_output output(destination);
    write_whole_file(output.temporary_path(), bytes{'n', 'e', 'w'});
    output.commit();
    EXPECT_EQ(read_whole_file(destination), (bytes{'n', 'e', 'w'}));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.nds"});
    EXPECT_THROW(output.commit(), std::runtime_error);
}

TEST_F(pending_output_test, uncommitted_output_is_removed)
{
    write_whole_file(destination, old_contents);
    {
        pending_output output(destination);
        write_whole_file(output.temporary_path(), bytes{'n', 'e', 'w'});
        pending_output moved(std::move(output)); // the moved-from one must not remove it
        EXPECT_TRUE(std::filesystem::exists(moved.temporary_path()));
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.nds"});
    EXPECT_EQ(read_whole_file(destination), old_contents);

    pending_output discarded(destination);
    write_whole_file(discarded.temporary_path(), bytes{'n', 'e', 'w'});
    discarded.discard();
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.nds"});
}

TEST_F(pending_output_test, failed_commit_removes_the_temporary_file)
{
    // A folder that is not empty cannot be replaced by a file.
    std::filesystem::create_directories(destination / "inside");
    pending_output output(destination);
    write_whole_file(output.temporary_path(), bytes{'n', 'e', 'w'});
    EXPECT_THROW(output.commit(), std::runtime_error);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.nds"});
    EXPECT_TRUE(std::filesystem::is_directory(destination));
}

TEST_F(pending_output_test, copy_to_hands_back_a_complete_closed_file)
{
    const bytes image = build_rom_image(sample_description()).image;
    const auto source = dir.write("source.nds", image);
    write_whole_file(destination, old_contents);
    recording_visitor identity;
    nds_rom rom(source);
    pending_output output = rom.copy_to(destination, identity);
    // Until committed the destination is untouched and the new ROM is complete beside it.
    EXPECT_EQ(read_whole_file(destination), old_contents);
    const bytes written = read_whole_file(output.temporary_path());
    EXPECT_EQ(written.size(), image.size());
    EXPECT_NO_THROW(nds_rom check(output.temporary_path()));
    output.commit();
    EXPECT_EQ(read_whole_file(destination), written);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"out.nds", "source.nds"}));
}

TEST_F(pending_output_test, copy_to_into_a_missing_folder_cannot_open_its_output)
{
    const auto source = dir.write("source.nds", build_rom_image(sample_description()).image);
    recording_visitor identity;
    nds_rom rom(source);
    try {
        rom.copy_to(dir.path() / "no" / "such" / "out.nds", identity);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "nds_rom::copy_to failed - can't open output file");
    }
    EXPECT_TRUE(identity.entered.empty());
    EXPECT_EQ(dir.names(), std::vector<std::string>{"source.nds"});
}

} // namespace
} // namespace qm::test
