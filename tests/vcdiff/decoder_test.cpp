// Hand-made deltas that must decode: the RFC's own example, every address mode, overlapping
// copies, VCD_TARGET windows, empty windows and the interleaved variant.

#include "vcdiff/adler32.h"
#include "vcdiff/delta_builder.h"
#include "vcdiff/vcdiff_decoder.h"

#include <gtest/gtest.h>

#include <random>

namespace qm {
namespace {

using test::text;
using test::window_spec;
using test::op::add;
using test::op::copy;

bytes decode_ok(byte_span source, const bytes& delta)
{
    bytes out{0xEE}; // must be replaced, not appended to
    std::string why;
    EXPECT_TRUE(vcdiff_decode(source, delta, out, &why)) << why;
    return out;
}

std::string as_text(const bytes& b)
{
    return std::string(b.begin(), b.end());
}

TEST(vcdiff_decoder, rfc_example)
{
    // Section 4.3: COPY 4,0; ADD 4,wxyz; COPY 4,4; COPY 12,24; RUN 4,z. The COPY at 24 reads
    // the target it is writing (a period of four bytes).
    const window_spec w{.indicator = 0x01,
                        .segment_length = 16,
                        .target_length = 28,
                        .data = text("wxyzz"),
                        .instructions = {copy(0, 4), add(4), copy(0, 4), copy(0, 12), test::op::run0(), 4},
                        .addresses = {0, 4, 24}};
    EXPECT_EQ(as_text(decode_ok(text("abcdefghijklmnop"), test::make_delta({w}))),
              "abcdwxyzefghefghefghefghzzzz");
}

TEST(vcdiff_decoder, every_address_mode_and_cache_update)
{
    std::mt19937 rng(7);
    bytes source(2000);
    for (auto& b : source)
        b = static_cast<std::uint8_t>(rng());

    // Each step is one COPY of 4 bytes: mode, encoded address bytes, address it must give.
    // here = 2000 + 4 * step. The caches: near is round robin over 4 slots, same[a % 768] = a.
    struct step {
        unsigned mode;
        bytes encoded;
        std::uint64_t address;
    };
    const std::vector<step> steps = {
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
    window_spec w{.indicator = 0x01, .segment_length = source.size()};
    bytes expected;
    for (const step& s : steps) {
        w.instructions.push_back(copy(s.mode, 4));
        append_bytes(w.addresses, s.encoded);
        append_bytes(expected, byte_span(source).subspan(s.address, 4));
    }
    w.target_length = expected.size();
    EXPECT_EQ(decode_ok(source, test::make_delta({w})), expected);
}

TEST(vcdiff_decoder, copy_runs_from_source_segment_into_overlapping_target)
{
    // Segment "def"; after ADD "XY" the COPY starts at segment byte 1 ('e') and runs on into
    // the target, re-reading bytes it has itself just written.
    const window_spec w{.indicator = 0x01,
                        .segment_length = 3,
                        .segment_position = 3,
                        .target_length = 12,
                        .data = text("XY"),
                        .instructions = {add(2), copy(0, 10)},
                        .addresses = {1}};
    EXPECT_EQ(as_text(decode_ok(text("abcdef"), test::make_delta({w}))), "XYefXYefXYef");
}

TEST(vcdiff_decoder, overlapping_target_copies_repeat_their_pattern)
{
    // Periods 1, 2 and 3, with lengths that are not multiples of the period.
    for (unsigned period = 1; period <= 3; ++period) {
        const window_spec w{.target_length = period + 17,
                            .data = text(std::string("abc").substr(0, period)),
                            .instructions = {add(period), copy(0, 0), 17},
                            .addresses = {0}};
        std::string expected;
        for (unsigned i = 0; i < period + 17; ++i)
            expected += "abc"[i % period];
        EXPECT_EQ(as_text(decode_ok({}, test::make_delta({w}))), expected) << "period " << period;
    }
}

TEST(vcdiff_decoder, combined_opcodes)
{
    // ADD 2 + COPY 5 (SELF), then COPY 4 + ADD 1, in one opcode each.
    const window_spec w{.indicator = 0x01,
                        .segment_length = 10,
                        .target_length = 12,
                        .data = text("ab!"),
                        .instructions = {test::op::add_copy(2, 5, 0), test::op::copy4_add1(0)},
                        .addresses = {3, 6}};
    EXPECT_EQ(as_text(decode_ok(text("0123456789"), test::make_delta({w}))), "ab345676789!");
}

TEST(vcdiff_decoder, vcd_target_windows_copy_from_earlier_output)
{
    const window_spec first{.indicator = 0x01,
                            .segment_length = 11,
                            .target_length = 11,
                            .instructions = {copy(0, 11)},
                            .addresses = {0}};
    const window_spec second{.target_length = 3, .data = text("!? "), .instructions = {add(3)}};
    // Segment "o world!?" spans both earlier windows.
    const window_spec third{.indicator = 0x02,
                            .segment_length = 9,
                            .segment_position = 4,
                            .target_length = 9,
                            .instructions = {copy(0, 9)},
                            .addresses = {0}};
    EXPECT_EQ(as_text(decode_ok(text("hello world"), test::make_delta({first, second, third}))),
              "hello world!? o world!?");
}

TEST(vcdiff_decoder, zero_length_windows)
{
    const bytes source = text("abc");
    const window_spec empty, empty_with_segment{.indicator = 0x01, .segment_length = 3};
    const window_spec body{.target_length = 2, .data = text("hi"), .instructions = {add(2)}};
    EXPECT_EQ(decode_ok(source, test::make_delta({empty})), bytes{});
    EXPECT_EQ(as_text(decode_ok(source, test::make_delta({empty, body, empty_with_segment, empty}))), "hi");
    // An empty segment may sit right at the end of the source, and a VCD_TARGET one at the
    // start of an empty output.
    const window_spec at_end{.indicator = 0x01, .segment_position = 3}, target_empty{.indicator = 0x02};
    EXPECT_EQ(decode_ok(source, test::make_delta({at_end, target_empty})), bytes{});
    // No window at all, with or without the header.
    EXPECT_EQ(decode_ok(source, {}), bytes{});
    EXPECT_EQ(decode_ok(source, test::file_header()), bytes{});
    EXPECT_EQ(decode_ok(source, test::file_header('S')), bytes{});
}

TEST(vcdiff_decoder, ignored_bits_and_encodings)
{
    // Unassigned Hdr_Indicator bits, the checksum bit of a plain window, Delta_Indicator bits
    // above the three compression flags.
    bytes delta = test::file_header(0x00, 0xF8);
    test::append_window(delta, {.indicator = 0x04,
                                .target_length = 3,
                                .delta_indicator = 0x08,
                                .data = text("xyz"),
                                .instructions = {add(0), 3}});
    EXPECT_EQ(as_text(decode_ok({}, delta)), "xyz");

    // Integers may carry leading zero groups.
    bytes padded = test::file_header();
    append_bytes(padded, bytes{0x00, 0x80, 0x80, 0x0B, 0x03, 0x00, 0x03, 0x02, 0x80, 0x00, 'x', 'y', 'z',
                               add(0), 0x03});
    EXPECT_EQ(as_text(decode_ok({}, padded)), "xyz");
}

TEST(vcdiff_decoder, sizes_up_to_the_limit_decode)
{
    // Exactly 64 MiB in one window, by a single RUN.
    window_spec w{.target_length = 64u << 20, .data = {0x5A}, .instructions = {test::op::run0()}};
    test::put_varint(w.instructions, w.target_length);
    const bytes out = decode_ok({}, test::make_delta({w}));
    ASSERT_EQ(out.size(), 64u << 20);
    EXPECT_EQ(out.front(), 0x5A);
    EXPECT_EQ(out.back(), 0x5A);
}

TEST(vcdiff_decoder, interleaved_variant)
{
    // ADD "ab", COPY 4 from source 2 (SELF), RUN 3 'z', each with its data or address right
    // after its opcode and size.
    const bytes source = text("012345");
    window_spec w{.indicator = 0x01,
                  .segment_length = source.size(),
                  .target_length = 9,
                  .instructions = {add(2), 'a', 'b', copy(0, 4), 2, test::op::run0(), 3, 'z'}};
    EXPECT_EQ(as_text(decode_ok(source, test::make_delta({w}, 'S'))), "ab2345zzz");

    // With its checksum (0x04 in Win_Indicator, Adler-32 after the address length).
    w.indicator |= 0x04;
    w.checksum = vcdiff::adler32(text("ab2345zzz"));
    EXPECT_EQ(as_text(decode_ok(source, test::make_delta({w, w}, 'S'))), "ab2345zzzab2345zzz");

    // The 'S' version still reads the plain layout when the data or address section is used.
    const window_spec plain{.target_length = 3, .data = text("xyz"), .instructions = {add(3)}};
    EXPECT_EQ(as_text(decode_ok(source, test::make_delta({plain}, 'S'))), "xyz");
}

TEST(vcdiff_decoder, adler32_known_values)
{
    EXPECT_EQ(vcdiff::adler32({}), 1u);
    EXPECT_EQ(vcdiff::adler32(text("Wikipedia")), 0x11E60398u);
    // Long enough to need the periodic reduction (value from zlib's adler32).
    EXPECT_EQ(vcdiff::adler32(bytes(100000, 0xFF)), 0x149A302Cu);
}

} // namespace
} // namespace qm
