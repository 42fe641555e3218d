// The decoder on hand-made deltas: the RFC's own example, every address mode, overlapping
// copies, VCD_TARGET windows, empty windows and the interleaved variant must decode; deltas
// that break one rule of the format or of the decoder's limits must be refused, leaving the
// output empty and saying why.

#include "vcdiff/adler32.h"
#include "vcdiff/delta_builder.h"
#include "vcdiff/vcdiff_decoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace qm {
namespace {

using namespace test::op;
using test::file_header;
using test::make_delta;
using test::text;
using test::window_plan;

bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& p : parts)
        append_bytes(out, p);
    return out;
}

window_plan run_window(std::uint64_t n)
{
    window_plan w{.target_length = n, .data = {0x5A}, .instructions = {run0}};
    test::put_varint(w.instructions, n);
    return w;
}

TEST(vcdiff_decoder, golden_deltas_decode)
{
    const bytes digits = text("0123456789");
    // Windows as {Win_Indicator, segment length, segment position, target length, Delta_Indicator,
    // data, instructions, addresses}.
    // Section 4.3 of the RFC: COPY 4,0; ADD 4,wxyz; COPY 4,4; COPY 12,24; RUN 4,z. The COPY at
    // 24 reads the target it is writing (a period of four bytes).
    const window_plan rfc{
        1, 16, 0, 28, 0, text("wxyzz"), {copy(0, 4), add(4), copy(0, 4), copy(0, 12), run0, 4}, {0, 4, 24}};
    // Segment "def"; after ADD "XY" the COPY starts at segment byte 1 and runs on into the
    // target, re-reading bytes it has itself just written.
    const window_plan into_target{1, 3, 3, 12, 0, text("XY"), {add(2), copy(0, 10)}, {1}};
    // ADD 2 + COPY 5 (SELF), then COPY 4 + ADD 1, in one opcode each.
    const window_plan combined{1, 10, 0, 12, 0, text("ab!"), {add_copy(2, 5, 0), copy4_add1(0)}, {3, 6}};
    // A VCD_TARGET segment "456789!?" spanning two earlier windows.
    const window_plan from_source{1, 10, 0, 10, 0, {}, {copy(0, 10)}, {0}};
    const window_plan add_two{0, 0, 0, 2, 0, text("!?"), {add(2)}};
    const window_plan from_target{2, 8, 4, 8, 0, {}, {copy(0, 8)}, {0}};
    // Empty windows, an empty segment right at the source's end, and a VCD_TARGET one at the
    // start of an empty output.
    const window_plan empty, empty_segment{1, 10}, at_end{1, 0, 10}, target_empty{2};
    // ADD "ab", COPY 4 from source 2, RUN 3 'z', each with its data or address right after its
    // opcode and size; then with an Adler-32 of the window.
    window_plan interleaved{1, 10, 0, 9, 0, {}, {add(2), 'a', 'b', copy(0, 4), 2, run0, 3, 'z'}};
    window_plan summed = interleaved;
    summed.indicator |= 0x04;
    summed.checksum = vcdiff::adler32(text("ab2345zzz"));
    const struct {
        bytes source, delta;
        std::string target;
    } cases[] = {
        {text("abcdefghijklmnop"), make_delta({rfc}), "abcdwxyzefghefghefghefghzzzz"},
        {text("abcdef"), make_delta({into_target}), "XYefXYefXYef"},
        {digits, make_delta({combined}), "ab345676789!"},
        {digits, make_delta({from_source, add_two, from_target}), "0123456789!?456789!?"},
        {digits, make_delta({empty, add_two, empty_segment, at_end, target_empty}), "!?"},
        {digits, file_header(), ""},
        // Integers may carry leading zero groups.
        {{},
         cat({file_header(),
              {0x00, 0x80, 0x80, 0x0B, 0x03, 0x00, 0x03, 0x02, 0x80, 0x00, 'x', 'y', 'z', add(0), 3}}),
         "xyz"},
        {digits, make_delta({interleaved}, 'S'), "ab2345zzz"},
        {digits, make_delta({summed, summed}, 'S'), "ab2345zzzab2345zzz"},
    };
    for (const auto& c : cases) {
        bytes out{0xEE}; // must be replaced, not appended to
        std::string why;
        EXPECT_TRUE(vcdiff_decode(c.source, c.delta, out, &why)) << c.target << ": " << why;
        EXPECT_EQ(std::string(out.begin(), out.end()), c.target);
    }
}

TEST(vcdiff_decoder, every_address_mode_and_cache_update)
{
    std::mt19937 rng(7);
    bytes source(2000);
    for (auto& b : source)
        b = static_cast<std::uint8_t>(rng());
    // One COPY of 4 bytes per mode: mode, encoded address, address it must give. here = 2000 + 4 *
    // step; near is round robin over 4 slots, same[a % 768] = a.
    const struct {
        unsigned mode;
        bytes encoded;
        std::uint64_t address;
    } steps[] = {
        {0, {0x84, 0x58}, 600},  // SELF; near[0], same[600]
        {1, {0x8D, 0x28}, 300},  // HERE: 2004 - 1704; near[1], same[300]
        {2, {0x07}, 607},        // NEAR0: 600 + 7; near[2]
        {3, {0x03}, 303},        // NEAR1: 300 + 3; near[3]
        {4, {0x00}, 607},        // NEAR2: 607 + 0; near[0]
        {5, {0x85, 0x39}, 1000}, // NEAR3: 303 + 697; near[1], same[232]
        {6, {232}, 1000},        // SAME block 0
        {7, {44}, 300},          // SAME block 1
        {8, {88}, 600},          // SAME block 2
    };
    window_plan w{.indicator = 0x01, .segment_length = source.size()};
    bytes expected, out;
    for (const auto& s : steps) {
        w.instructions.push_back(copy(s.mode, 4));
        append_bytes(w.addresses, s.encoded);
        append_bytes(expected, byte_span(source).subspan(s.address, 4));
    }
    w.target_length = expected.size();
    ASSERT_TRUE(vcdiff_decode(source, make_delta({w}), out));
    EXPECT_EQ(out, expected);
    // Long enough to need the periodic reduction (value from zlib's adler32).
    EXPECT_EQ(vcdiff::adler32(bytes(100000, 0xFF)), 0x149A302Cu);
}

const bytes source = text("0123456789ab");

// A valid window: ADD "xy", then COPY 4 from source offset 2 (SELF), giving "xy2345".
window_plan good_window()
{
    return {1, source.size(), 0, 6, 0, text("xy"), {add(2), copy(0, 4)}, {2}};
}

bytes bad(const std::function<void(window_plan&)>& change)
{
    window_plan w = good_window();
    change(w);
    return make_delta({w});
}

TEST(vcdiff_decoder, bad_deltas_are_refused_with_their_reason)
{
    const bytes good = make_delta({good_window()});
    const window_plan early{2, 1, 0, 1, 0, {}, {copy(0, 0), 1}, {0}};
    const window_plan bad_sum{4, 0, 0, 2, 0, {}, {add(2), 'o', 'k'}, {}, 0x12345678};
    // What an encoder that adds Adler-32 to plain windows writes: the lengths no longer add up.
    const window_plan plain_sum{4, 0, 0, 2, 0, text("ok"), {add(2)}, {}, 0x00F7009D};
    const struct {
        std::string why;
        bytes delta;
    } cases[] = {
        {"not a VCDIFF delta (wrong magic bytes)", {0xD6, 0xC3, 0xC5, 0x00, 0x00}},
        {"file header: delta ends early", {0xD6, 0xC3, 0xC4}},
        {"Hdr_Indicator: delta ends early", {0xD6, 0xC3, 0xC4, 0x00}},
        {"unsupported VCDIFF version 0x01", file_header(0x01)},
        {"secondary compression is not supported",
         cat({file_header(0x00, 0x01), {0x02}, bytes(good.begin() + 5, good.end())})},
        {"custom code tables are not supported", file_header(0x00, 0x02)},
        {"compressed delta sections are not supported", bad([](auto& w) { w.delta_indicator = 0x01; })},
        {"window has both VCD_SOURCE and VCD_TARGET set", bad([](auto& w) { w.indicator = 0x03; })},
        {"source segment lies outside the source",
         bad([](auto& w) { w.segment_length = source.size() + 1; })},
        {"source segment lies outside the target decoded so far", make_delta({early})},
        // here = 12 + 2 for the COPY
        {"COPY address 14 not before the current position 14", bad([](auto& w) { w.addresses = {14}; })},
        {"COPY address before the start of the window",
         bad([](auto& w) { w.instructions[1] = copy(1, 4), w.addresses = {15}; })},
        {"COPY address: integer too large", bad([](auto& w) {
             w.addresses = {0x88, 0x80, 0x80, 0x80, 0x00};
         })},
        {"COPY address: delta ends early", bad([](auto& w) { w.addresses = {0x82}; })},
        {"RUN byte: delta ends early", bad([](auto& w) {
             w.instructions = {add(2), run0, 1}, w.target_length = 3;
         })},
        {"instruction runs past the end of the target window", bad([](auto& w) { w.target_length = 5; })},
        {"instructions end before the target window is complete", bad([](auto& w) { w.target_length = 7; })},
        {"data left over after the target window is complete", bad([](auto& w) { w.data.push_back('!'); })},
        {"addresses left over after the target window is complete",
         bad([](auto& w) { w.addresses.push_back(0); })},
        {"instructions left over after the target window is complete", bad([](auto& w) {
             append_bytes(w.instructions, bytes{add(0), 0});
         })},
        {"target window of 67108865 bytes exceeds the limit", make_delta({run_window((64u << 20) + 1)})},
        {"decoded target would exceed the size limit",
         make_delta({run_window(32u << 20), run_window((32u << 20) + 1)})},
        {"delta encoding length: delta ends early", cat({good, {0x00}})},
        {"window checksum does not match its target", make_delta({bad_sum}, 'S')},
        {"section lengths do not add up to the delta encoding length", make_delta({plain_sum})},
    };
    bytes out;
    ASSERT_TRUE(vcdiff_decode(source, make_delta({good_window(), good_window()}), out));
    EXPECT_EQ(out, text("xy2345xy2345"));
    for (const auto& c : cases) {
        out = text("stale");
        std::string why;
        EXPECT_FALSE(vcdiff_decode(source, c.delta, out, &why)) << c.why;
        EXPECT_EQ(why, c.why);
        EXPECT_TRUE(out.empty()) << c.why;
    }
}

} // namespace
} // namespace qm
