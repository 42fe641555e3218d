// Patch authoring. The sample's patch is made by make-patch and the end-to-end tests check that
// applying it gives the translation byte for byte; here: a pair needing no record, and the pairs
// that no patch can relate, refused with their exact messages.

#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "support/error_of.h"
#include "tools/make_patch.h"
#include "tools/rom_description_generator.h"
#include "tools/rom_image_builder.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

TEST(make_patch, a_laid_out_pair_needs_no_record_and_unrelated_pairs_fail_loudly)
{
    // The translation is laid out by the ROM writer, so against itself it needs no record.
    const authored_patch none = make_patch(sample_translation(), sample_translation());
    EXPECT_EQ(std::tuple(none.report.records, none.report.blobs, none.report.total_steps),
              std::tuple(0u, 1u, 370u)); // 369 sections and the padding

    scratch_dir dir;
    bytes translated = read_whole_file(sample_translation());
    translated[0x10] = 'Z'; // maker code: header fields the writer does not rewrite cannot be patched
    write_whole_file(dir / "maker.nds", translated);
    rom_description other = random_rom_description(5);
    other.title = "QLMOR";
    other.game_code = "YQLE";
    write_rom_image(other, dir / "other.nds");
    for (const auto& [name, message] :
         {std::pair{"maker.nds", "make-patch - verification failed: the patched original differs from the "
                                 "translation at offset 0x10 (Header)"},
          std::pair{"other.nds", "make-patch - the translation's file names differ from the original's: a "
                                 "patch can change files, not add, remove or rename them"}})
        EXPECT_EQ(error_of([&] { make_patch(sample_original(), dir / name); }), message);
}

} // namespace
} // namespace qm::test
