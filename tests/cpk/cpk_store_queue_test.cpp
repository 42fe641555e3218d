#include "cpk/cpk_store_queue.h"

#include "cpk/cpk_visit.h"

#include "cpk_test_data.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

using test::error_of;

// Files of every kind the builder treats differently: empty, too short to compress, compressible
// in both tables, incompressible, and a large one that fills the pending room alone.
std::vector<bytes> mixed_files()
{
    std::vector<bytes> files;
    for (std::uint32_t i = 0; i < 60; ++i) {
        switch (i % 6) {
        case 0: files.push_back({}); break;
        case 1: files.push_back(test::random_bytes(1 + i * 5, i)); break;
        case 2: files.push_back(test::text_like(400 + i * 300, i)); break;
        case 3: files.push_back(test::random_bytes(3000 + i, i)); break;
        case 4: files.push_back(test::text_like(70000 + i, i)); break;
        default: files.push_back(bytes(384 + i, static_cast<std::uint8_t>(i))); break;
        }
    }
    files.push_back(bytes(17u << 20, 0x5A));
    files.push_back(test::text_like(1000, 100));
    return files;
}

TEST(cpk_store_queue, gives_the_archive_that_adding_one_by_one_gives)
{
    const std::vector<bytes> files = mixed_files();
    const bytes expected = test::build_archive(files);
    for (unsigned helpers : {0u, 1u, 3u}) {
        cpk_builder builder;
        {
            cpk_store_queue queue(builder, helpers);
            for (const bytes& f : files)
                queue.add_file(f);
            queue.finish();
        }
        EXPECT_EQ(builder.file_count(), files.size()) << helpers << " helpers";
        EXPECT_EQ(builder.write(), expected) << helpers << " helpers";
    }
}

TEST(cpk_store_queue, refuses_the_file_that_would_not_fit_while_others_are_pending)
{
    cpk_builder builder;
    cpk_store_queue queue(builder, 1);
    for (std::uint32_t i = 0; i < cpk_max_files; ++i)
        queue.add_file(i % 1000 == 0 ? test::text_like(2000, i) : bytes());
    EXPECT_EQ(error_of([&] { queue.add_file({}); }),
              "cpk_builder::add_file failed - a CPK archive holds at most 65535 files");
    queue.finish();
    EXPECT_EQ(builder.file_count(), cpk_max_files);
}

TEST(cpk_store_queue, dropping_it_with_work_pending_leaves_the_builder_consistent)
{
    cpk_builder builder;
    {
        cpk_store_queue queue(builder, 2);
        for (std::uint32_t i = 0; i < 12; ++i)
            queue.add_file(test::text_like(50000, i));
    }
    // Whatever reached the builder before the queue went is a valid archive of those files.
    const bytes archive = builder.write();
    std::uint32_t count = 0;
    cpk_visit(archive, [&](std::uint32_t id, const std::uint8_t* data, std::uint32_t size) {
        EXPECT_EQ(bytes(data, data + size), test::text_like(50000, id - 1));
        ++count;
    });
    EXPECT_EQ(count, builder.file_count());
}

} // namespace
} // namespace qm
