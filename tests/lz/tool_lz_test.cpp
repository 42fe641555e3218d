#include "common/file_io.h"

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
// blz-pack and blz-unpack file to file: the golden form of 32 zeros, the codec's messages on
// stderr with exit 1 and no output file, exit 2 on a wrong argument count.
TEST(blz_tool, packs_unpacks_and_reports_errors)
{
    const fs::path dir = fs::temp_directory_path() / ("qm_blz_tool_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const auto run = [&](std::string arguments) {
        for (std::size_t at; (at = arguments.find('@')) != std::string::npos;)
            arguments.replace(at, 1, dir.string() + "/");
        const int status =
            std::system((QM_TOOL_PATH " " + arguments + " 2>" + (dir / "err").string()).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const auto err = [&] {
        const bytes b = read_whole_file(dir / "err");
        return std::string(b.begin(), b.end());
    };
    write_whole_file(dir / "zeros", bytes(32, 0));
    ASSERT_EQ(run("blz-pack @zeros @packed"), 0) << err();
    EXPECT_EQ(read_whole_file(dir / "packed"),
              (bytes{0, 0x80, 0, 0xf0, 0, 0, 0, 0x18, 0x10, 0, 0, 8, 0x10, 0, 0, 0}));
    ASSERT_EQ(run("blz-unpack @packed @unpacked"), 0) << err();
    EXPECT_EQ(read_whole_file(dir / "unpacked"), bytes(32, 0));

    write_whole_file(dir / "ramp", bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    EXPECT_EQ(run("blz-pack @ramp @out"), 1);
    EXPECT_NE(err().find("nds_lz_comp failed - compressed buffer larger than source buffer"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out"));
    write_whole_file(dir / "short", bytes(3, 0));
    EXPECT_EQ(run("blz-unpack @short @out"), 1);
    EXPECT_NE(err().find("nds_lz_inplace_decomp failed - unexpected size of input"), std::string::npos);
    EXPECT_EQ(run("blz-unpack @missing @out"), 1);
    EXPECT_EQ(run("blz-pack @ramp"), 2);
    EXPECT_EQ(run("blz-unpack a b c"), 2);
    fs::remove_all(dir);
}
#endif

} // namespace
} // namespace qm
