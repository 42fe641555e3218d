// The sample game: determinism and its size (the boot tests in the emulator check what it needs to boot).

#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "tools/sample_game.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

TEST(sample_game, same_seed_gives_the_same_pair_and_size_scales_the_bulk_only)
{
    scratch_dir dir;
    const sample_summary small = make_sample(dir / "same", sample_options{1, 1});
    EXPECT_EQ(read_whole_file(dir / "same" / sample_original_name), read_whole_file(sample_original()));
    EXPECT_EQ(read_whole_file(dir / "same" / sample_translation_name), read_whole_file(sample_translation()));
    make_sample(dir / "other", sample_options{1, 2});
    EXPECT_NE(read_whole_file(dir / "other" / sample_original_name), read_whole_file(sample_original()));
    const sample_summary large = make_sample(dir / "large", sample_options{16, 1});
    EXPECT_EQ(std::tuple(small.original_bytes < large.original_bytes, large.original_bytes, large.files,
                         large.archive_entries),
              std::tuple(true, 16u << 20, small.files, small.archive_entries));
#ifdef QM_DEFAULT_ARCHIVE
    // The build packs the patch of a sample of another size: the same bytes show that nothing
    // the translation changes depends on the size.
    EXPECT_EQ(read_whole_file(QM_DEFAULT_ARCHIVE), sample_patch());
#endif
}

} // namespace
} // namespace qm::test
