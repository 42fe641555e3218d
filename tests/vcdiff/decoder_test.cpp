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
    // Periods 1 and 3 copied from the window's own target, 17 bytes long.
    const window_plan period1{0, 0, 0, 18, 0, text("a"), {add(1), copy(0, 0), 17}, {0}};
    const window_plan period3{0, 0, 0, 20, 0, text("abc"), {add(3), copy(0, 0), 17}, {0}};
    // ADD 2 + COPY 5 (SELF), then COPY 4 + ADD 1, in one opcode each.
    const window_plan combined{1, 10, 0, 12, 0, text("ab!"), {add_copy(2, 5, 0), copy4_add1(0)}, {3, 6}};
    // A VCD_TARGET segment "456789!?" spanning two earlier windows.
    const window_plan from_source{1, 10, 0, 10, 0, {}, {copy(0, 10)}, {0}};
    const window_plan add_two{0, 0, 0, 2, 0, text("!?"), {add(2)}};
    const window_plan from_target{2, 8, 4, 8, 0, {}, {copy(0, 8)}, {0}};
    // Empty windows, an empty segment right at the source's end, and a VCD_TARGET one at the
    // start of an empty output.
    const window_plan empty, empty_segment{1, 10}, at_end{1, 0, 10}, target_empty{2};
    // Unassigned Hdr_Indicator bits, the checksum bit of a plain window, Delta_Indicator bits
    // above the three compression flags: all ignored.
    bytes ignored_bits = file_header(0x00, 0xF8);
    test::append_window(ignored_bits, {4, 0, 0, 3, 0x08, text("xyz"), {add(0), 3}});
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
        {{}, make_delta({period1, period3}), "aaaaaaaaaaaaaaaaaaabcabcabcabcabcabcab"},
        {digits, make_delta({combined}), "ab345676789!"},
        {digits, make_delta({from_source, add_two, from_target}), "0123456789!?456789!?"},
        {digits, make_delta({empty}), ""},
        {digits, make_delta({empty, add_two, empty_segment, at_end, target_empty}), "!?"},
        {digits, {}, ""},
        {digits, file_header(), ""},
        {digits, file_header('S'), ""},
        {{}, ignored_bits, "xyz"},
        // Integers may carry leading zero groups.
        {{},
         cat({file_header(),
              {0x00, 0x80, 0x80, 0x0B, 0x03, 0x00, 0x03, 0x02, 0x80, 0x00, 'x', 'y', 'z', add(0), 3}}),
         "xyz"},
        {digits, make_delta({interleaved}, 'S'), "ab2345zzz"},
        {digits, make_delta({summed, summed}, 'S'), "ab2345zzzab2345zzz"},
        // The 'S' version still reads the plain layout when the data or address section is used.
        {digits, make_delta({add_two}, 'S'), "!?"},
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
    // Each step is one COPY of 4 bytes: mode, encoded address bytes, address it must give.
    // here = 2000 + 4 * step. The caches: near is round robin over 4 slots, same[a % 768] = a.
    const struct {
        unsigned mode;
        bytes encoded;
        std::uint64_t address;
    } steps[] = {
        {0, {0x64}, 100},               // SELF; near[0]=100
        {0, {0x87, 0x68}, 1000},        // SELF; near[1]=1000, same[232]=1000
        {0, {0x82, 0x2C}, 300},         // SELF; near[2]=300, same[300]=300 (block 1, byte 44)
        {0, {0x84, 0x58}, 600},         // SELF; near[3]=600, same[600]=600 (block 2, byte 88)
        {1, {0x8F, 0x0C}, 2016 - 1932}, // HERE: 2016 - 1932 = 84; near[0]=84
        {2, {0x07}, 91},                // NEAR0: 84 + 7; near[1]=91
        {3, {0x03}, 94},                // NEAR1: 91 + 3; near[2]=94
        {4, {0x00}, 94},                // NEAR2: 94 + 0; near[3]=94
        {5, {0x81, 0x00}, 222},         // NEAR3: 94 + 128; near[0]=222
        {6, {232}, 1000},               // SAME block 0, byte 232
        {7, {44}, 300},                 // SAME block 1, byte 44
        {8, {88}, 600},                 // SAME block 2, byte 88
        {1, {0x8E, 0x7C}, 2048 - 1916}, // HERE again: 2048 - 1916 = 132
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
    // Exactly 64 MiB in one window, by a single RUN.
    ASSERT_TRUE(vcdiff_decode({}, make_delta({run_window(64u << 20)}), out));
    EXPECT_EQ(out, bytes(64u << 20, 0x5A));
    EXPECT_EQ(vcdiff::adler32({}), 1u);
    EXPECT_EQ(vcdiff::adler32(text("Wikipedia")), 0x11E60398u);
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
    const auto patched = [&](std::size_t at, std::uint8_t v) {
        bytes d = good;
        d[at] = v;
        return d;
    };
    const window_plan early{2, 1, 0, 1, 0, {}, {copy(0, 0), 1}, {0}};
    window_plan later = early;
    later.segment_length = 7; // one byte beyond the earlier output
    const window_plan bad_sum{4, 0, 0, 2, 0, {}, {add(2), 'o', 'k'}, {}, 0x12345678};
    // What an encoder that adds Adler-32 to plain windows writes: the lengths no longer add up.
    const window_plan plain_sum{4, 0, 0, 2, 0, text("ok"), {add(2)}, {}, 0x00F7009D};
    const std::string magic = "not a VCDIFF delta (wrong magic bytes)",
                      outside = "source segment lies outside the ";
    const std::string lengths = "section lengths do not add up to the delta encoding length";
    const std::string past = "instruction runs past the end of the target window";
    const struct {
        std::string why;
        bytes delta;
    } cases[] = {
        {magic, patched(2, 0xC5)},
        {magic, {0xD6, 0x00}},
        {"file header: delta ends early", {0xD6, 0xC3, 0xC4}},
        {"Hdr_Indicator: delta ends early", {0xD6, 0xC3, 0xC4, 0x00}},
        {"unsupported VCDIFF version 0x01", patched(3, 0x01)},
        {"secondary compression is not supported",
         cat({file_header(0x00, 0x01), {0x02}, bytes(good.begin() + 5, good.end())})},
        {"custom code tables are not supported", file_header(0x00, 0x02)},
        {"compressed delta sections are not supported", bad([](auto& w) { w.delta_indicator = 0x01; })},
        {"compressed delta sections are not supported", bad([](auto& w) { w.delta_indicator = 0x04; })},
        {"window has both VCD_SOURCE and VCD_TARGET set", bad([](auto& w) { w.indicator = 0x03; })},
        {outside + "source", bad([](auto& w) { w.segment_length = source.size() + 1; })},
        {outside + "source", bad([](auto& w) { w.segment_length = 5, w.segment_position = 8; })},
        {outside + "source", make_delta({{1, 0, source.size() + 1}})},
        {outside + "target decoded so far", make_delta({early})},
        {outside + "target decoded so far", make_delta({good_window(), later})},
        // here = 12 + 2 for the COPY
        {"COPY address 14 not before the current position 14", bad([](auto& w) { w.addresses = {14}; })},
        {"COPY address before the start of the window",
         bad([](auto& w) { w.instructions[1] = copy(1, 4), w.addresses = {15}; })},
        {"COPY address 14 not before the current position 14",
         bad([](auto& w) { w.instructions[1] = copy(2, 4), w.addresses = {14}; })},
        {"COPY address: integer too large", bad([](auto& w) {
             w.addresses = {0x88, 0x80, 0x80, 0x80, 0x00};
         })},
        {"COPY address: delta ends early", bad([](auto& w) { w.addresses = {0x82}; })},
        {past, bad([](auto& w) { w.target_length = 5; })},
        {past, bad([](auto& w) { w.instructions[1] = copy4_add1(0); })},
        {"ADD data: delta ends early", bad([](auto& w) { w.instructions[0] = add(3), w.target_length = 7; })},
        {"instructions end before the target window is complete", bad([](auto& w) { w.target_length = 7; })},
        {"data left over after the target window is complete", bad([](auto& w) { w.data.push_back('!'); })},
        {"addresses left over after the target window is complete",
         bad([](auto& w) { w.addresses.push_back(0); })},
        {"instructions left over after the target window is complete", bad([](auto& w) {
             append_bytes(w.instructions, bytes{add(0), 0});
         })},
        {"instruction size: delta ends early",
         bad([](auto& w) { w.instructions[1] = run0, w.target_length = 3; })},
        {"RUN byte: delta ends early", bad([](auto& w) {
             w.instructions = {add(2), run0, 1}, w.target_length = 3;
         })},
        {lengths, bad([](auto& w) { w.encoding_length_error = -1; })},
        {lengths, bad([](auto& w) { w.encoding_length_error = 1; })},
        {"target window length: integer too large",
         cat({file_header(), {0x00, 0x0A, 0x88, 0x80, 0x80, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00}})},
        // Five groups holding exactly 0x7FFFFFFF still parse, and are then refused by the limit.
        {"target window of 2147483647 bytes exceeds the limit",
         cat({file_header(), {0x00, 0x0A, 0x87, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00}})},
        {"target window of 67108865 bytes exceeds the limit", make_delta({run_window((64u << 20) + 1)})},
        {"decoded target would exceed the size limit",
         make_delta({run_window(32u << 20), run_window((32u << 20) + 1)})},
        {"delta encoding length: delta ends early", cat({good, {0x00}})},
        {"window checksum does not match its target", make_delta({bad_sum}, 'S')},
        {"window checksum: integer too large",
         cat({file_header('S'),
              {0x04, 0x0D, 0x02, 0x00, 0x00, 0x03, 0x00, 0x90, 0x80, 0x80, 0x80, 0x00, add(2), 'o', 'k'}})},
        {lengths, make_delta({plain_sum})},
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

TEST(vcdiff_decoder, every_cut_inside_a_window_is_refused)
{
    window_plan second = good_window();
    second.data = text("pq");
    const bytes one = make_delta({good_window()});
    const bytes delta = make_delta({good_window(), second});
    for (std::size_t cut = 0; cut <= delta.size(); ++cut) {
        bytes out;
        const bool complete = cut == 0 || cut == 5 || cut == one.size() || cut == delta.size();
        EXPECT_EQ(vcdiff_decode(source, byte_span(delta).first(cut), out), complete) << "cut at " << cut;
    }
}

} // namespace
} // namespace qm
