// Deltas that must be refused: each breaks one rule of the format or of the decoder's limits.
// A failure leaves the output empty and says why.

#include "vcdiff/delta_builder.h"
#include "vcdiff/vcdiff_decoder.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

using test::op::add;
using test::op::copy;
using test::text;
using test::window_spec;

const bytes source = text("0123456789ab");

// A valid window: ADD "xy", then COPY 4 from source offset 2 (SELF).
window_spec good_window()
{
    window_spec w;
    w.indicator = 0x01;
    w.segment_length = source.size();
    w.target_length = 6;
    w.data = text("xy");
    w.instructions = {add(2), copy(0, 4)};
    w.addresses = {2};
    return w;
}

void expect_failure(const bytes& delta, const char* what)
{
    bytes out = text("stale");
    std::string why;
    EXPECT_FALSE(vcdiff_decode(source, delta, out, &why)) << what;
    EXPECT_TRUE(out.empty()) << what;
    EXPECT_FALSE(why.empty()) << what;
}

TEST(vcdiff_must_fail, the_reference_window_itself_decodes)
{
    bytes out;
    ASSERT_TRUE(vcdiff_decode(source, test::make_delta({good_window()}), out));
    EXPECT_EQ(out, text("xy2345"));
}

TEST(vcdiff_must_fail, file_header)
{
    bytes delta = test::make_delta({good_window()});
    delta[2] = 0xC5;
    expect_failure(delta, "wrong magic");
    expect_failure(bytes{0xD6, 0x00}, "short input with wrong magic");
    expect_failure(bytes{0xD6, 0xC3, 0xC4}, "header cut short");
    expect_failure(bytes{0xD6, 0xC3, 0xC4, 0x00}, "header without Hdr_Indicator");
    delta = test::make_delta({good_window()});
    delta[3] = 0x01;
    expect_failure(delta, "version 0x01");
    expect_failure(test::file_header(0x00, 0x01), "secondary compressor");
    bytes with_id = test::file_header(0x00, 0x01);
    with_id.push_back(0x02); // a compressor id
    test::append_window(with_id, good_window());
    expect_failure(with_id, "secondary compressor with id and window");
    expect_failure(test::file_header(0x00, 0x02), "custom code table");
}

TEST(vcdiff_must_fail, window_indicators)
{
    for (std::uint8_t bits : {0x01, 0x02, 0x04}) {
        window_spec w = good_window();
        w.delta_indicator = bits;
        expect_failure(test::make_delta({w}), "Delta_Indicator compression bit");
    }
    window_spec both = good_window();
    both.indicator = 0x03;
    expect_failure(test::make_delta({both}), "VCD_SOURCE and VCD_TARGET");
}

TEST(vcdiff_must_fail, source_segment_bounds)
{
    window_spec w = good_window();
    w.segment_length = source.size() + 1;
    expect_failure(test::make_delta({w}), "segment longer than the source");
    w.segment_length = 5;
    w.segment_position = source.size() - 4;
    expect_failure(test::make_delta({w}), "segment past the end");
    w.segment_length = 0;
    w.segment_position = source.size() + 1;
    w.instructions = {add(2)};
    w.addresses.clear();
    w.target_length = 2;
    expect_failure(test::make_delta({w}), "empty segment past the end");

    window_spec early;
    early.indicator = 0x02;
    early.segment_length = 1;
    early.target_length = 1;
    early.instructions = {copy(0, 0), 1};
    early.addresses = {0};
    expect_failure(test::make_delta({early}), "VCD_TARGET before any output");
    // One byte beyond the output of the earlier windows.
    window_spec later = early;
    later.segment_length = 7;
    expect_failure(test::make_delta({good_window(), later}), "VCD_TARGET segment past the output");
}

TEST(vcdiff_must_fail, addresses)
{
    window_spec w = good_window();
    w.addresses = {14}; // here = 12 + 2
    expect_failure(test::make_delta({w}), "SELF address == here");
    w.addresses = {0x87, 0x68};
    expect_failure(test::make_delta({w}), "SELF address far beyond here");
    w.instructions = {add(2), copy(1, 4)};
    w.addresses = {15}; // HERE: 14 - 15 < 0
    expect_failure(test::make_delta({w}), "HERE address before the window");
    w.instructions = {add(2), copy(2, 4)};
    w.addresses = {14}; // NEAR0 = 0 + 14
    expect_failure(test::make_delta({w}), "NEAR address == here");
    w.instructions = {add(2), copy(0, 4)};
    w.addresses = {0x88, 0x80, 0x80, 0x80, 0x00}; // 2^31
    expect_failure(test::make_delta({w}), "address integer above 0x7FFFFFFF");
    w.addresses = {0x82};
    expect_failure(test::make_delta({w}), "unterminated address integer");
}

TEST(vcdiff_must_fail, instructions_and_sections)
{
    window_spec w = good_window();
    w.target_length = 5;
    expect_failure(test::make_delta({w}), "COPY overflows the target window");
    w = good_window();
    w.instructions = {add(3), copy(0, 4)};
    w.target_length = 7;
    expect_failure(test::make_delta({w}), "ADD needs more data than the section has");
    w = good_window();
    w.target_length = 7;
    expect_failure(test::make_delta({w}), "instructions end before the target is complete");
    w = good_window();
    w.data.push_back('!');
    expect_failure(test::make_delta({w}), "data left over");
    w = good_window();
    w.addresses.push_back(0);
    expect_failure(test::make_delta({w}), "address left over");
    w = good_window();
    w.instructions.push_back(add(0));
    w.instructions.push_back(0);
    expect_failure(test::make_delta({w}), "instruction left over after the target is complete");
    w = good_window();
    w.instructions = {add(2), test::op::copy4_add1(0)};
    w.data = text("xy");
    expect_failure(test::make_delta({w}), "second half of an opcode past the target");
    w = good_window();
    w.instructions = {add(2), test::op::run0()};
    w.target_length = 3;
    expect_failure(test::make_delta({w}), "RUN without its size");
    w.instructions = {add(2), test::op::run0(), 1};
    expect_failure(test::make_delta({w}), "RUN without its byte");
}

TEST(vcdiff_must_fail, length_fields)
{
    for (std::int64_t error : {-1, 1, 100}) {
        window_spec w = good_window();
        w.encoding_length_error = error;
        expect_failure(test::make_delta({w}), "delta encoding length off");
    }
    // A target window length integer above 0x7FFFFFFF.
    bytes delta = test::file_header();
    append_bytes(delta, bytes{0x00, 0x0A, 0x88, 0x80, 0x80, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00});
    expect_failure(delta, "integer above 0x7FFFFFFF");
    // Five groups holding exactly 0x7FFFFFFF still parse, and are then refused by the limit.
    delta = test::file_header();
    append_bytes(delta, bytes{0x00, 0x0A, 0x87, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00});
    expect_failure(delta, "window of 0x7FFFFFFF bytes");
}

TEST(vcdiff_must_fail, size_limits)
{
    window_spec big;
    big.target_length = (64u << 20) + 1;
    big.data = {0};
    big.instructions = {test::op::run0()};
    test::put_varint(big.instructions, big.target_length);
    expect_failure(test::make_delta({big}), "window of 64 MiB + 1");

    // Two windows that are fine alone but exceed the limit together.
    window_spec half;
    half.target_length = 32u << 20;
    half.data = {0};
    half.instructions = {test::op::run0()};
    test::put_varint(half.instructions, half.target_length);
    window_spec rest = half;
    rest.target_length += 1;
    rest.instructions = {test::op::run0()};
    test::put_varint(rest.instructions, rest.target_length);
    expect_failure(test::make_delta({half, rest}), "total target of 64 MiB + 1");
}

TEST(vcdiff_must_fail, every_cut_inside_a_window)
{
    window_spec second = good_window();
    second.data = text("pq");
    const bytes one = test::make_delta({good_window()});
    const bytes delta = test::make_delta({good_window(), second});
    for (std::size_t cut = 0; cut <= delta.size(); ++cut) {
        const bytes prefix(delta.begin(), delta.begin() + cut);
        bytes out;
        const bool complete = cut == 0 || cut == 5 || cut == one.size() || cut == delta.size();
        EXPECT_EQ(vcdiff_decode(source, prefix, out), complete) << "cut at " << cut;
    }
}

TEST(vcdiff_must_fail, trailing_bytes_are_read_as_windows)
{
    bytes delta = test::make_delta({good_window()});
    append_bytes(delta, text("junk"));
    expect_failure(delta, "trailing garbage");
    delta = test::make_delta({good_window()});
    delta.push_back(0x00);
    expect_failure(delta, "one trailing zero byte");
    // A complete window after the first is simply decoded.
    delta = test::make_delta({good_window()});
    test::append_window(delta, good_window());
    bytes out;
    ASSERT_TRUE(vcdiff_decode(source, delta, out));
    EXPECT_EQ(out, text("xy2345xy2345"));
}

TEST(vcdiff_must_fail, interleaved_checksum_mismatch_and_plain_checksum)
{
    window_spec w;
    w.indicator = 0x04;
    w.target_length = 2;
    w.instructions = {add(2), 'o', 'k'};
    w.checksum = 0x12345678;
    expect_failure(test::make_delta({w}, 'S'), "wrong Adler-32");
    // A checksum integer above 32 bits.
    bytes delta = test::file_header('S');
    append_bytes(delta, bytes{0x04, 0x0D, 0x02, 0x00, 0x00, 0x03, 0x00, 0x90, 0x80, 0x80, 0x80, 0x00,
                              add(2), 'o', 'k'});
    expect_failure(delta, "checksum above 0xFFFFFFFF");
    // A plain delta has no checksum field: one written there breaks the lengths (this is what
    // an encoder that adds Adler-32 to plain windows produces).
    w.checksum = 0x00F7009D;
    w.instructions = {add(2)};
    w.data = text("ok");
    expect_failure(test::make_delta({w}, 0x00), "checksum in a plain delta");
}

} // namespace
} // namespace qm
