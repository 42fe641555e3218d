#include "common/bytes.h"

#include <gtest/gtest.h>

#include <limits>

namespace qm {
namespace {

TEST(bytes, endian_readers_and_writers_agree)
{
    bytes b(16);
    put_le32(b, 0, 0x11223344);
    put_be32(b, 4, 0x11223344);
    put_le64(b, 8, 0x0102030405060708ull);
    EXPECT_EQ((bytes{b.begin(), b.begin() + 8}), (bytes{0x44, 0x33, 0x22, 0x11, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(get_le32(b, 0), 0x11223344u);
    EXPECT_EQ(get_be32(b, 4), 0x11223344u);
    EXPECT_EQ(get_le16(b, 0), 0x3344u);
    EXPECT_EQ(get_be16(b, 4), 0x1122u);
    EXPECT_EQ(get_le64(b, 8), 0x0102030405060708ull);
    EXPECT_EQ(get_be64(b, 8), 0x0807060504030201ull);
}

TEST(bytes, accesses_outside_the_buffer_throw)
{
    bytes b(4);
    // Offsets the compiler cannot see through, so it does not warn about the refused accesses.
    volatile std::size_t one = 1, three = 3, four = 4, huge = std::numeric_limits<std::size_t>::max() - 1;
    EXPECT_THROW(get_le32(b, one), bounds_error);
    EXPECT_THROW(get_u8(b, four), bounds_error);
    EXPECT_THROW(put_le16(b, three, 0), bounds_error);
    EXPECT_THROW(get_le32(b, huge), bounds_error);
    EXPECT_NO_THROW(get_le32(b, 0));
}

TEST(bytes, in_bounds_cannot_overflow)
{
    constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
    EXPECT_TRUE(in_bounds(10, 10, 0));
    EXPECT_FALSE(in_bounds(10, 11, 0));
    EXPECT_FALSE(in_bounds(10, 2, max));
    EXPECT_FALSE(in_bounds(10, max, 2));
}

} // namespace
} // namespace qm
