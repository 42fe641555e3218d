#include "engine/patcher.h"

#include "job_fixture.h"

namespace qm {
namespace {

using test::error_of;

// A patcher with the archive `b` makes loaded after a cancel request, which loading clears.
struct loaded {
    patcher engine;
    test::recording_listener listener;
    bytes packed;

    explicit loaded(const archive_builder& b) : packed(pack_archive(b.build()))
    {
        engine.attach(nullptr, &listener);
        engine.request_cancel();
        engine.load_archive(packed);
    }
};

const bytes banner_before(2112, 0x11);
const bytes banner_after = test::pattern(3000, 0x22); // a delta's target may be longer than its source

// The check values, and the definition one bit at a time against the table-driven code at the
// lengths around its 16-byte blocks, from an even and an odd start.
TEST(crc32, check_values_and_the_bitwise_definition_around_the_block_size)
{
    EXPECT_EQ(crc32(byte_span(reinterpret_cast<const std::uint8_t*>("123456789"), 9)), 0xCBF43926u);
    const bytes data = test::pattern(1000, 9);
    for (std::size_t start : {0, 3})
        for (std::size_t n : {0, 1, 4, 15, 16, 17, 31, 32, 33, 997}) {
            std::uint32_t r = 0xFFFFFFFFu;
            for (std::size_t i = start; i < start + n; ++i)
                for (int k = 0, b = data[i]; k < 8; ++k, b >>= 1)
                    r = (r >> 1) ^ (0xEDB88320u & (0u - ((r ^ b) & 1)));
            EXPECT_EQ(crc32(byte_span(data).subspan(start, n)), ~r) << start << " " << n;
        }
}

// Loading reports the total and clears an early cancel. The writer may skip visit for a section
// the patcher lets pass: only when it has no record and no cancel is pending, so that a cancelled
// job still gets empty contents from visit. A record's key keeps its high half (the overlay's
// number), and of two records with one key the later wins.
TEST(patcher, loading_clears_a_cancel_and_sections_without_record_pass_through_until_a_cancel)
{
    patcher idle;
    EXPECT_TRUE(idle.archive_blobs().empty() && idle.steps_done() == 0 && !idle.cancel_requested());
    EXPECT_EQ(idle.character_index(), make_char_index());
    archive_builder b;
    b.set_total_steps(2490);
    const std::uint32_t overlay = make_section_code(arm9_overlay, 3);
    b.add_record(overlay, {0, crc32(banner_before), b.add_blob(vcdiff_encode(banner_before, bytes{1}))});
    b.add_record(overlay, {0, crc32(banner_before), b.add_blob(vcdiff_encode(banner_before, bytes{2}))});
    loaded t(b);
    EXPECT_FALSE(t.engine.cancel_requested());
    EXPECT_EQ(t.engine.visit(banner_before, overlay), bytes{2});
    EXPECT_FALSE(t.engine.passes_through(overlay));
    for (const std::uint32_t code : {make_section_code(arm9_overlay, 0), make_section_code(arm7_overlay, 3),
                                     make_section_code(file, 4)}) {
        EXPECT_EQ(t.engine.visit(banner_before, code), banner_before);
        EXPECT_TRUE(t.engine.passes_through(code));
        t.engine.request_cancel();
        EXPECT_EQ(t.engine.visit(banner_before, code), bytes{});
        EXPECT_FALSE(t.engine.passes_through(code));
        t.engine.load_archive(t.packed); // clears the cancel
    }
    EXPECT_EQ(t.engine.archive_blobs().size(), 3u); // replaced at each load, not appended to
    // set_total at each load only: neither visit nor asking reports anything
    EXPECT_EQ(t.listener.calls, std::vector<std::string>(4, "set_total 2490"));
}

// Once a delta record is whole, its checksum is checked first: a bad one wins over an
// undecodable delta or a missing blob.
TEST(patcher, records_check_the_checksum_then_their_type_length_blob_and_delta)
{
    archive_builder b;
    const std::uint32_t good = b.add_blob(vcdiff_encode(banner_before, banner_after));
    const std::uint32_t garbage = b.add_blob(bytes{1, 2, 3});
    const std::uint32_t crc = crc32(banner_before);
    const std::tuple<std::uint32_t, std::vector<std::uint32_t>, std::string> cases[] = {
        {make_section_code(arm7), {0, crc ^ 1, garbage}, "patcher::visit - bad checksum"},
        {make_section_code(arm9), {0, crc, garbage}, "apply_patch - decoder failed"},
        {make_section_code(fnt), {7, 0, 0}, "patcher::visit - unexpected patch type"},
        {make_section_code(fat), {0, crc}, "patcher::visit - truncated record"},
        {make_section_code(header), {0, crc, 9}, "patcher - blob 9 is not in the archive"},
        {make_section_code(banner), {0, crc, good}, ""},
    };
    for (const auto& [code, body, message] : cases)
        b.add_record(code, body);
    loaded t(b);
    EXPECT_EQ(t.engine.visit(banner_before, make_section_code(banner)), banner_after);
    bytes changed = banner_before;
    changed[5] ^= 1;
    for (const auto& [code, body, message] : cases) {
        EXPECT_EQ(error_of([&] { t.engine.visit(banner_before, code); }), message);
        EXPECT_EQ(error_of([&] { t.engine.visit(changed, code); }),
                  body.size() < 3 || body[0] != 0 ? message : "patcher::visit - bad checksum");
    }
}

} // namespace
} // namespace qm
