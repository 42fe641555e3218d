#include "common/file_io.h"
#include "lz_test_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace qm {
namespace {

namespace fs = std::filesystem;

#ifdef QM_TOOL_PATH
class blz_tool : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("qm_blz_tool_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs quillmoor-tool with the given arguments; returns its exit status, stderr in err().
    int run(const std::string& arguments)
    {
        const std::string cmd = std::string(QM_TOOL_PATH) + " " + arguments + " 2>" + path("err").string();
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    fs::path path(const char* name) const { return dir_ / name; }
    std::string arg(const char* name) const { return "'" + path(name).string() + "'"; }
    std::string err() const
    {
        const bytes b = read_whole_file(path("err"));
        return std::string(b.begin(), b.end());
    }

private:
    fs::path dir_;
};

TEST_F(blz_tool, packs_and_unpacks_files)
{
    write_whole_file(path("zeros"), bytes(32, 0));
    ASSERT_EQ(run("blz-pack " + arg("zeros") + " " + arg("packed")), 0) << err();
    EXPECT_EQ(read_whole_file(path("packed")), lz_test::from_hex("00 80 00 f0 00 00 00 18 10 00 00 08 10 00 00 00"));
    ASSERT_EQ(run("blz-unpack " + arg("packed") + " " + arg("unpacked")), 0) << err();
    EXPECT_EQ(read_whole_file(path("unpacked")), bytes(32, 0));
}

TEST_F(blz_tool, errors_and_usage)
{
    write_whole_file(path("ramp"), lz_test::from_hex("00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f"));
    EXPECT_EQ(run("blz-pack " + arg("ramp") + " " + arg("out")), 1);
    EXPECT_NE(err().find("nds_lz_comp failed - compressed buffer larger than source buffer"), std::string::npos);
    EXPECT_FALSE(fs::exists(path("out")));

    write_whole_file(path("short"), bytes(3, 0));
    EXPECT_EQ(run("blz-unpack " + arg("short") + " " + arg("out")), 1);
    EXPECT_NE(err().find("nds_lz_inplace_decomp failed - unexpected size of input"), std::string::npos);
    EXPECT_EQ(run("blz-unpack " + arg("missing") + " " + arg("out")), 1);

    EXPECT_EQ(run("blz-pack " + arg("ramp")), 2);
    EXPECT_EQ(run("blz-unpack a b c"), 2);
}
#endif

} // namespace
} // namespace qm
