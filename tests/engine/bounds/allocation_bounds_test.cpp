// No length field can make a decoder allocate more than its real input justifies: each case
// measures the largest single allocation made before the lying input is refused. Its own
// executable, since it replaces the global operator new.

#include "cpk/cpk_builder.h"
#include "cpk/cpk_visit.h"
#include "cpk/utf_table.h"
#include "engine/font_depth.h"
#include "engine/job_fixture.h"
#include "engine/script_font.h"
#include "lz/nds_lz.h"
#include "rom/nds_format.h"
#include "vcdiff/vcdiff_decoder.h"

#include "vcdiff/delta_builder.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> largest{0};
} // namespace

void* operator new(std::size_t n)
{
    largest = std::max(largest.load(), n); // the refusals measured here run on one thread
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
// The pair is consistent (malloc and free); the compiler cannot see that through the replacement.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
#pragma GCC diagnostic pop

namespace qm {
namespace {

// The largest allocation made while f runs; f must refuse its input with this message.
template <class F> std::size_t largest_allocation_of_refusal(F&& f, const std::string& message)
{
    largest = 0;
    EXPECT_EQ(test::error_of(f), message);
    return largest;
}

constexpr std::size_t kib = 1024;

using allocation_bounds = test::job_fixture;

TEST_F(allocation_bounds, rom_tables_claiming_more_than_the_file)
{
    const bytes image = build_rom_image(test::game_description()).image;
    for (const std::size_t field :
         {nds::hdr_fnt_size, nds::hdr_fat_size, nds::hdr_arm9_ovt_size, nds::hdr_header_size}) {
        SCOPED_TRACE(field);
        bytes lying = image;
        put_le32(lying, field, 0xFFFFFFF0);
        write_whole_file(source, lying);
        // The stream's own buffer is the only allocation beyond the header.
        EXPECT_LE(largest_allocation_of_refusal([&] { nds_rom rom(source); },
                                                "nds_rom::nds_rom - input file is not a valid NDS ROM"),
                  64 * kib);
    }
}

// Length fields claiming far more than their input: an LZ footer nearly 4 GiB long, four billion
// table rows of width 0 (which all lie inside the table, so only the cost of their cells stops
// them), a packed archive of a GiB, a blob of 4 GiB, a CPK entry of 4 GiB expanded, a font's
// glyph block past its end and tiles of one byte that would make nearly every byte of the file a
// glyph.
TEST_F(allocation_bounds, length_fields_claiming_more_than_their_input)
{
    bytes lz = nds_lz_comp(bytes(1000, 0x33));
    put_le32(lz, lz.size() - 4, 0xFFFFFF00);
    bytes table = utf_table("T", {{"A", utf_u32, false}}).serialize();
    put_be32(table, 28, 0xFFFFFFFF);
    bytes packed = pack_archive(bytes(100, 0x55));
    put_le32(packed, 0, 0x3FFFFFFF);
    static const bytes two_blobs{2, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF}; // an empty index, 4 GiB
    // A CPK archive of 70,000 bytes that pack to a few hundred, whose ITOC row then claims
    // 0xFFFFFFF0 expanded.
    cpk_builder b;
    b.add_file(bytes(70000, 0x44));
    bytes cpk = b.write();
    const utf_table header = utf_table::from_chunk(cpk);
    const auto itoc_offset = static_cast<std::size_t>(header.cell(0, header.column_index("ItocOffset")));
    utf_table itoc = utf_table::from_chunk(byte_span(cpk).subspan(itoc_offset));
    const std::uint32_t data_h = itoc.column_index("DataH");
    utf_table high = itoc.sub_table(itoc.cell(0, data_h));
    high.cell(0, high.column_index("ExtractSize")) = 0xFFFFFFF0;
    itoc.set_table(0, data_h, high);
    cpk.resize(itoc_offset);
    append_bytes(cpk, itoc.to_chunk("ITOC"));
    const bytes font = build_font(used_char_set().set(33).set(34));
    bytes far_block = font, tiny_tiles = font;
    put_le32(far_block, 0x30, 0xFFFFFFF0);
    put_le16(tiny_tiles, 0x36, 1);
    const std::tuple<std::function<void()>, std::string, std::size_t> cases[] = {
        {[&] { nds_lz_inplace_decomp(lz); },
         "nds_lz_decomp failed - decoded size out of reach of the token stream", 2 * lz.size()},
        {[&] { utf_table::parse(table); }, "utf_table::parse failed - table too large for its bytes",
         4 * kib},
        {[&] { unpack_archive(packed); }, "Decompression of main archive failed", 4 * kib},
        {[] { split_archive(two_blobs); }, "load_archive failed - blob 1 runs past the end of the archive",
         4 * kib},
        {[&] { cpk_visit(cpk, [](std::uint32_t, byte_span) {}); },
         "cpk_visit failed - file 1 claims more expanded bytes than its form can hold", 16 * kib},
        {[&] { convert_font_to_1bpp(far_block); }, "convert_font_to_1bpp - glyph block outside the font",
         font.size()},
        {[&] { convert_font_to_1bpp(tiny_tiles); }, "convert_font_to_1bpp - tiles too small for their pixels",
         font.size()},
    };
    for (const auto& [run, message, bound] : cases)
        EXPECT_LE(largest_allocation_of_refusal(run, message), bound) << message;
    // A RUN of millions of bytes takes a few, so VCDIFF target sizes are capped at 64 MiB instead
    // of bounded by the delta; a window claiming more is refused before anything is allocated.
    bytes target;
    for (const std::uint32_t claim : {(64u << 20) + 1, 64u << 20}) {
        largest = 0;
        EXPECT_FALSE(vcdiff_decode({}, test::make_delta({{.target_length = claim}}), target));
        EXPECT_LE(largest.load(), claim > (64u << 20) ? 4 * kib : claim + 4 * kib) << claim;
    }
}

} // namespace
} // namespace qm
