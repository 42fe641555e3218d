// The encoder: its deltas rebuild the target exactly, are deterministic, use VCD_SOURCE
// windows of at most 8 MiB, and stay small for translation-like edits.

#include "vcdiff/sample_data.h"
#include "vcdiff/vcdiff_decoder.h"
#include "vcdiff/vcdiff_encoder.h"

#include <gtest/gtest.h>

#include <random>

namespace qm {
namespace {

bytes round_trip(const bytes& source, const bytes& target)
{
    const bytes delta = vcdiff_encode(source, target);
    bytes out;
    std::string why;
    EXPECT_TRUE(vcdiff_decode(source, delta, out, &why)) << why;
    EXPECT_TRUE(out == target) << "decoded " << out.size() << " bytes, expected " << target.size();
    return delta;
}

// Window count and indicators, read from the window headers of a plain delta.
struct window_info {
    std::uint8_t indicator;
    std::uint64_t target_length;
};

std::uint64_t read_varint(const bytes& d, std::size_t& pos)
{
    std::uint64_t v = 0;
    while (d.at(pos) & 0x80)
        v = (v << 7) | (d.at(pos++) & 0x7F);
    return (v << 7) | d.at(pos++);
}

std::vector<window_info> windows_of(const bytes& delta)
{
    std::vector<window_info> out;
    std::size_t pos = 5;
    while (pos < delta.size()) {
        const std::uint8_t indicator = delta.at(pos++);
        if (indicator & 0x03) {
            read_varint(delta, pos);
            read_varint(delta, pos);
        }
        const std::uint64_t length = read_varint(delta, pos);
        std::size_t body = pos;
        out.push_back({indicator, read_varint(delta, body)});
        pos += length;
    }
    return out;
}

TEST(vcdiff_encoder, header_and_degenerate_inputs)
{
    const bytes text = test::make_text_like(5000, 1);
    const bytes delta = round_trip(text, text);
    EXPECT_EQ(bytes(delta.begin(), delta.begin() + 5), (bytes{0xD6, 0xC3, 0xC4, 0x00, 0x00}));
    EXPECT_LT(delta.size(), 32u) << "an identical file is one COPY";

    // An empty target still gets one (empty) window.
    const bytes empty_target = round_trip(text, {});
    ASSERT_EQ(windows_of(empty_target).size(), 1u);
    EXPECT_EQ(windows_of(empty_target)[0].target_length, 0u);

    round_trip({}, {});
    round_trip({}, text);
    round_trip(bytes(3, 'a'), bytes(7, 'a'));
    round_trip(text, bytes(1, 'x'));
}

TEST(vcdiff_encoder, windows_copy_from_the_source_when_they_can)
{
    const bytes source = test::make_text_like(20000, 2);
    const bytes target = test::apply_edits(source, 10, 3);
    const auto windows = windows_of(round_trip(source, target));
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].indicator, 0x01);
    // Nothing to copy from: no source segment at all.
    EXPECT_EQ(windows_of(round_trip({}, target))[0].indicator, 0x00);
}

TEST(vcdiff_encoder, large_targets_are_split_into_8_mib_windows)
{
    const bytes source = test::make_text_like(17u << 20 >> 1, 4); // 8.5 MiB
    const bytes target = test::apply_edits(source, 50, 5);
    const auto windows = windows_of(round_trip(source, target));
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].target_length, 8u << 20);
    EXPECT_EQ(windows[1].target_length, target.size() - (8u << 20));
}

TEST(vcdiff_encoder, random_edits_round_trip)
{
    for (std::uint32_t seed = 0; seed < 12; ++seed) {
        std::mt19937 rng(seed);
        const bytes source = test::make_text_like(rng() % 3000, seed);
        const bytes target =
            test::apply_edits(source, rng() % 30, seed + 1000, static_cast<int>(rng() % 3) - 1);
        SCOPED_TRACE(seed);
        round_trip(source, target);
    }
}

TEST(vcdiff_encoder, repeats_and_self_copies)
{
    // Long runs, a short period, and a target that repeats its own new text.
    bytes target(100000, 0);
    for (std::size_t i = 50000; i < target.size(); ++i)
        target[i] = static_cast<std::uint8_t>("abc"[i % 3]);
    EXPECT_LT(round_trip({}, target).size(), 40u);

    const bytes phrase = test::make_text_like(300, 9);
    bytes repeated;
    for (int i = 0; i < 50; ++i) {
        append_bytes(repeated, phrase);
        repeated.push_back(static_cast<std::uint8_t>(i));
    }
    EXPECT_LT(round_trip({}, repeated).size(), phrase.size() + 50 * 8);
}

TEST(vcdiff_encoder, translation_edits_give_small_deltas)
{
    // 1 MiB with 200 scattered edits: the delta carries the new text and little else.
    const bytes source = test::make_text_like(1u << 20, 8);
    for (int growth : {1, 0, -1}) {
        const bytes target = test::apply_edits(source, 200, 9, growth);
        const bytes delta = round_trip(source, target);
        EXPECT_LT(delta.size(), 200u * 24) << "growth " << growth;
        EXPECT_EQ(vcdiff_encode(source, target), delta) << "not deterministic";
    }
}

} // namespace
} // namespace qm
