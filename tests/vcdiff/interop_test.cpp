// Interoperability with Debian's xdelta3 as an independent peer: its plain deltas
// (-S none -A -n) decode here, and our deltas decode with xdelta3 -d. Skipped when xdelta3
// is not installed.

#include "common/file_io.h"
#include "vcdiff/sample_data.h"
#include "vcdiff/vcdiff_decoder.h"
#include "vcdiff/vcdiff_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace qm {
namespace {

namespace fs = std::filesystem;

class vcdiff_xdelta3_interop : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::system("command -v xdelta3 >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "xdelta3 is not installed";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("qm_vcdiff_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }

    void TearDown() override
    {
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    // Runs xdelta3 with the given arguments (file names relative to the test's folder).
    bool xdelta3(const std::string& arguments)
    {
        const std::string cmd = "cd '" + dir_.string() + "' && xdelta3 -f -q " + arguments + " 2>/dev/null";
        return std::system(cmd.c_str()) == 0;
    }

    bytes their_delta(const bytes& source, const bytes& target, const std::string& options = "-S none -A -n")
    {
        write_whole_file(dir_ / "src", source);
        write_whole_file(dir_ / "tgt", target);
        EXPECT_TRUE(xdelta3("-e " + options + " -s src tgt delta"));
        return read_whole_file(dir_ / "delta");
    }

    // Our decoder on xdelta3's delta, and xdelta3 on our delta: both must give the target.
    void check_both_ways(const bytes& source, const bytes& target,
                         const std::string& options = "-S none -A -n")
    {
        const bytes theirs = their_delta(source, target, options);
        bytes out;
        std::string why;
        EXPECT_TRUE(vcdiff_decode(source, theirs, out, &why)) << why;
        EXPECT_TRUE(out == target) << "our decoder: " << out.size() << " bytes, expected " << target.size();

        write_whole_file(dir_ / "ours", vcdiff_encode(source, target));
        ASSERT_TRUE(xdelta3("-d -s src ours decoded"));
        EXPECT_TRUE(read_whole_file(dir_ / "decoded") == target) << "xdelta3 -d of our delta differs";
    }

    fs::path dir_;
};

TEST_F(vcdiff_xdelta3_interop, text_edits_growing_and_shrinking)
{
    const bytes source = test::make_text_like(1u << 20, 11);
    check_both_ways(source, test::apply_edits(source, 300, 12, 1));
    check_both_ways(source, test::apply_edits(source, 300, 13, -1));
    check_both_ways(source, test::apply_edits(source, 300, 14, 0));
}

TEST_F(vcdiff_xdelta3_interop, identical_and_empty_files)
{
    const bytes text = test::make_text_like(100000, 15);
    check_both_ways(text, text);
    check_both_ways({}, text);
    check_both_ways(text, {});
    check_both_ways(test::make_text_like(50, 16), test::make_text_like(70, 17));
}

TEST_F(vcdiff_xdelta3_interop, several_windows)
{
    // 3 MiB that xdelta3 cuts into 1 MiB windows, and 9 MiB that our encoder cuts into two.
    const bytes source = test::make_text_like(3u << 20, 18);
    check_both_ways(source, test::apply_edits(source, 1000, 19), "-S none -A -n -W 1048576");
    const bytes large = test::make_text_like(9u << 20, 20);
    check_both_ways(large, test::apply_edits(large, 100, 21));
}

TEST_F(vcdiff_xdelta3_interop, plain_deltas_with_xdelta3_checksums_are_refused)
{
    // Without -n xdelta3 writes an Adler-32 into each plain window, which the format has no
    // field for: the window's lengths no longer add up.
    const bytes source = test::make_text_like(10000, 22);
    const bytes delta = their_delta(source, test::apply_edits(source, 5, 23), "-S none -A");
    bytes out;
    EXPECT_FALSE(vcdiff_decode(source, delta, out));
    EXPECT_TRUE(out.empty());
}

} // namespace
} // namespace qm
