#include "engine/crc32.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qm {
namespace {

TEST(crc32, standard_check_values)
{
    const char* digits = "123456789";
    EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(digits), 9), 0xCBF43926u);
    EXPECT_EQ(crc32(nullptr, 0), 0u);
    const std::uint8_t zero = 0;
    EXPECT_EQ(crc32(&zero, 1), 0xD202EF8Du);
}

} // namespace
} // namespace qm
