// Deltas that must be refused: each breaks one rule of the format or of the decoder's limits.
// A failure leaves the output empty and says why.

#include "vcdiff/delta_builder.h"
#include "vcdiff/vcdiff_decoder.h"

#include <gtest/gtest.h>

#include <functional>

namespace qm {
namespace {

using namespace test::op;
using test::make_delta;
using test::text;
using test::window_spec;

const bytes source = text("0123456789ab");

// A valid window: ADD "xy", then COPY 4 from source offset 2 (SELF).
window_spec good_window()
{
    return {.indicator = 0x01,
            .segment_length = source.size(),
            .target_length = 6,
            .data = text("xy"),
            .instructions = {add(2), copy(0, 4)},
            .addresses = {2}};
}

bytes changed(const std::function<void(window_spec&)>& change)
{
    window_spec w = good_window();
    change(w);
    return make_delta({w});
}

bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes& p : parts)
        append_bytes(out, p);
    return out;
}

window_spec run_window(std::uint64_t n)
{
    window_spec w{.target_length = n, .data = {0}, .instructions = {run0()}};
    test::put_varint(w.instructions, n);
    return w;
}

struct bad_delta {
    const char* what;
    bytes delta;
};

std::vector<bad_delta> corpus()
{
    const bytes good = make_delta({good_window()});
    const bytes good_body(good.begin() + 5, good.end());
    auto patched = [&](std::size_t at, std::uint8_t v) {
        bytes d = good;
        d[at] = v;
        return d;
    };
    const window_spec early{.indicator = 0x02,
                            .segment_length = 1,
                            .target_length = 1,
                            .instructions = {copy(0, 0), 1},
                            .addresses = {0}};
    window_spec later = early;
    later.segment_length = 7; // one byte beyond the earlier output
    const window_spec bad_sum{
        .indicator = 0x04, .target_length = 2, .instructions = {add(2), 'o', 'k'}, .checksum = 0x12345678};
    // What an encoder that adds Adler-32 to plain windows writes: the lengths no longer add up.
    const window_spec plain_sum{.indicator = 0x04,
                                .target_length = 2,
                                .data = text("ok"),
                                .instructions = {add(2)},
                                .checksum = 0x00F7009D};
    return {
        {"wrong magic", patched(2, 0xC5)},
        {"short input with wrong magic", {0xD6, 0x00}},
        {"header cut short", {0xD6, 0xC3, 0xC4}},
        {"header without Hdr_Indicator", {0xD6, 0xC3, 0xC4, 0x00}},
        {"version 0x01", patched(3, 0x01)},
        {"secondary compressor", test::file_header(0x00, 0x01)},
        {"secondary compressor with id and window", cat({test::file_header(0x00, 0x01), {0x02}, good_body})},
        {"custom code table", test::file_header(0x00, 0x02)},

        {"Delta_Indicator bit 0x01", changed([](window_spec& w) { w.delta_indicator = 0x01; })},
        {"Delta_Indicator bit 0x02", changed([](window_spec& w) { w.delta_indicator = 0x02; })},
        {"Delta_Indicator bit 0x04", changed([](window_spec& w) { w.delta_indicator = 0x04; })},
        {"VCD_SOURCE and VCD_TARGET", changed([](window_spec& w) { w.indicator = 0x03; })},

        {"segment longer than the source",
         changed([](window_spec& w) { w.segment_length = source.size() + 1; })},
        {"segment past the end",
         changed([](window_spec& w) { w.segment_length = 5, w.segment_position = source.size() - 4; })},
        {"empty segment past the end", changed([](window_spec& w) {
             w = {.indicator = 0x01,
                  .segment_position = source.size() + 1,
                  .target_length = 2,
                  .data = text("xy"),
                  .instructions = {add(2)}};
         })},
        {"VCD_TARGET before any output", make_delta({early})},
        {"VCD_TARGET segment past the output", make_delta({good_window(), later})},

        // here = 12 + 2 for the COPY
        {"SELF address == here", changed([](window_spec& w) { w.addresses = {14}; })},
        {"SELF address far beyond here", changed([](window_spec& w) {
             w.addresses = {0x87, 0x68};
         })},
        {"HERE address before the window",
         changed([](window_spec& w) { w.instructions[1] = copy(1, 4), w.addresses = {15}; })},
        {"NEAR address == here",
         changed([](window_spec& w) { w.instructions[1] = copy(2, 4), w.addresses = {14}; })},
        {"address integer above 0x7FFFFFFF", changed([](window_spec& w) {
             w.addresses = {0x88, 0x80, 0x80, 0x80, 0x00};
         })},
        {"unterminated address integer", changed([](window_spec& w) { w.addresses = {0x82}; })},

        {"COPY overflows the target window", changed([](window_spec& w) { w.target_length = 5; })},
        {"ADD needs more data than the section has",
         changed([](window_spec& w) { w.instructions[0] = add(3), w.target_length = 7; })},
        {"instructions end before the target is complete",
         changed([](window_spec& w) { w.target_length = 7; })},
        {"data left over", changed([](window_spec& w) { w.data.push_back('!'); })},
        {"address left over", changed([](window_spec& w) { w.addresses.push_back(0); })},
        {"instruction after the target is complete", changed([](window_spec& w) {
             append_bytes(w.instructions, bytes{add(0), 0});
         })},
        {"second half of an opcode past the target",
         changed([](window_spec& w) { w.instructions[1] = copy4_add1(0); })},
        {"RUN without its size",
         changed([](window_spec& w) { w.instructions[1] = run0(), w.target_length = 3; })},
        {"RUN without its byte", changed([](window_spec& w) {
             w.instructions = {add(2), run0(), 1}, w.target_length = 3;
         })},

        {"delta encoding length one short", changed([](window_spec& w) { w.encoding_length_error = -1; })},
        {"delta encoding length one long", changed([](window_spec& w) { w.encoding_length_error = 1; })},
        {"delta encoding length far too long",
         changed([](window_spec& w) { w.encoding_length_error = 100; })},
        {"target length integer above 0x7FFFFFFF",
         cat({test::file_header(), {0x00, 0x0A, 0x88, 0x80, 0x80, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00}})},
        // Five groups holding exactly 0x7FFFFFFF still parse, and are then refused by the limit.
        {"window of 0x7FFFFFFF bytes",
         cat({test::file_header(), {0x00, 0x0A, 0x87, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00}})},
        {"window of 64 MiB + 1", make_delta({run_window((64u << 20) + 1)})},
        {"two windows of 64 MiB + 1 together",
         make_delta({run_window(32u << 20), run_window((32u << 20) + 1)})},

        {"trailing garbage", cat({good, text("junk")})},
        {"one trailing zero byte", cat({good, {0x00}})},

        {"wrong Adler-32", make_delta({bad_sum}, 'S')},
        {"checksum above 0xFFFFFFFF",
         cat({test::file_header('S'),
              {0x04, 0x0D, 0x02, 0x00, 0x00, 0x03, 0x00, 0x90, 0x80, 0x80, 0x80, 0x00, add(2), 'o', 'k'}})},
        {"checksum in a plain delta", make_delta({plain_sum})},
    };
}

TEST(vcdiff_must_fail, the_reference_windows_decode)
{
    bytes out;
    ASSERT_TRUE(vcdiff_decode(source, make_delta({good_window()}), out));
    EXPECT_EQ(out, text("xy2345"));
    ASSERT_TRUE(vcdiff_decode(source, make_delta({good_window(), good_window()}), out));
    EXPECT_EQ(out, text("xy2345xy2345"));
}

TEST(vcdiff_must_fail, corpus)
{
    for (const bad_delta& c : corpus()) {
        bytes out = text("stale");
        std::string why;
        EXPECT_FALSE(vcdiff_decode(source, c.delta, out, &why)) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }
}

TEST(vcdiff_must_fail, every_cut_inside_a_window)
{
    window_spec second = good_window();
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
