// The encoder: its deltas rebuild the target exactly, are deterministic and are as recorded. Debian's xdelta3
// serves as an independent peer when it is installed: its plain deltas (-S none -A -n) decode here, and our
// deltas decode with xdelta3 -d.

#include "common/file_io.h"
#include "vcdiff/sample_data.h"
#include "vcdiff/vcdiff_decoder.h"
#include "vcdiff/vcdiff_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <unistd.h>

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::apply_edits;
using test::make_text_like;

bytes round_trip(const bytes& source, const bytes& target)
{
    const bytes delta = vcdiff_encode(source, target);
    bytes out;
    std::string why;
    EXPECT_TRUE(vcdiff_decode(source, delta, out, &why)) << why;
    EXPECT_TRUE(out == target) << "decoded " << out.size() << " bytes, expected " << target.size();
    EXPECT_EQ(vcdiff_encode(source, target), delta) << "not deterministic";
    return delta;
}

// The deltas of a fixed set of inputs are pinned by a digest recorded from today's encoder,
// whose deltas decode here and with xdelta3: it fixes the window layout (VCD_SOURCE windows of at
// most 8 MiB, one empty window without a segment for an empty target, no segment without a
// source) and every match choice, so the size of every delta too.
TEST(vcdiff_encoder, round_trips_and_deltas_are_as_recorded)
{
    const bytes text = make_text_like(5000, 1);
    std::uint64_t h = 0xCBF29CE484222325;
    const auto pin = [&](const bytes& source, const bytes& target) {
        for (std::uint8_t x : round_trip(source, target))
            h = (h ^ x) * 0x100000001B3;
    };
    EXPECT_LT(round_trip(text, text).size(), 32u) << "an identical file is one COPY";
    pin(text, {});
    pin({}, text);
    pin({}, {});
    bytes runs(100000, 0); // a long run, then a period of three
    for (std::size_t i = 50000; i < runs.size(); ++i)
        runs[i] = static_cast<std::uint8_t>("abc"[i % 3]);
    pin({}, runs);
    for (std::uint32_t seed = 0; seed < 12; ++seed) {
        std::mt19937 rng(seed);
        const bytes source = make_text_like(rng() % 3000, seed);
        const std::size_t edits = rng() % 30;
        pin(source, apply_edits(source, edits, seed + 1000, static_cast<int>(rng() % 3) - 1));
    }
    const bytes large = make_text_like(17u << 20 >> 1, 4); // 8.5 MiB: two windows
    pin(large, apply_edits(large, 50, 5));
    EXPECT_EQ(h, 4758755247238171220u);
}

TEST(vcdiff_encoder, xdelta3_agrees_both_ways)
{
    if (std::system("command -v xdelta3 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xdelta3 is not installed";
    const fs::path dir = fs::temp_directory_path() / ("qm_vcdiff_xdelta3_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const auto xdelta3 = [&](const std::string& arguments) {
        return std::system(
                   ("cd '" + dir.string() + "' && xdelta3 -f -q " + arguments + " 2>/dev/null").c_str()) == 0;
    };
    const auto check = [&](const bytes& source, const bytes& target) {
        write_whole_file(dir / "src", source);
        write_whole_file(dir / "tgt", target);
        ASSERT_TRUE(xdelta3("-e -S none -A -n -s src tgt delta"));
        bytes out;
        std::string why;
        EXPECT_TRUE(vcdiff_decode(source, read_whole_file(dir / "delta"), out, &why)) << why;
        EXPECT_TRUE(out == target) << "our decoder: " << out.size() << " bytes, expected " << target.size();
        write_whole_file(dir / "ours", vcdiff_encode(source, target));
        ASSERT_TRUE(xdelta3("-d -s src ours decoded"));
        EXPECT_TRUE(read_whole_file(dir / "decoded") == target) << "xdelta3 -d of our delta differs";
    };
    const bytes source = make_text_like(1u << 20, 11);
    check(source, apply_edits(source, 300, 11, -1));
    // 9 MiB that our encoder cuts into two windows.
    const bytes nine = make_text_like(9u << 20, 20);
    check(nine, apply_edits(nine, 100, 21));
    fs::remove_all(dir);
}

} // namespace
} // namespace qm
