// Layout arithmetic of the rebuild and the header checksum, at their limits.

#include "rom/nds_rom.h"
#include "rom/rom_layout.h"

#include <gtest/gtest.h>

#include <string_view>

namespace qm {
namespace {

TEST(rom_layout, rebuilt_rom_may_not_reach_4_gib)
{
    EXPECT_EQ(section_start(0x201), 0x400u);
    // Up to 2 GiB the padded image stays at most 2 GiB; one byte more would pad it to 4 GiB.
    EXPECT_EQ(section_end(0x7FFFFE00, 0x200), 0x80000000u);
    try {
        section_end(0x7FFFFE00, 0x201);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "nds_rom::copy_to failed - rebuilt ROM would reach 4 GiB");
    }
    EXPECT_THROW(section_end(0x200, 0xFFFFFFFF), std::runtime_error); // wraps a 32-bit sum
    EXPECT_THROW(section_end(0x200, 0xFFFFFFFFFFFFFF00ull), std::runtime_error);
}

TEST(rom_layout, image_size_and_capacity)
{
    const std::pair<std::uint64_t, unsigned> sizes[] = {{0, 0},         {1, 0},         {2, 1},
                                                        {0x100000, 20}, {0x100001, 21}, {0x80000000, 31}};
    for (auto [end, exponent] : sizes)
        EXPECT_EQ(image_size_exponent(end), exponent) << end;
    EXPECT_EQ(capacity_code(21), 4);
    EXPECT_EQ(capacity_code(17), 0);
    EXPECT_EQ(capacity_code(16), 0);
}

TEST(rom_layout, packed_overlay_length_must_fit_24_bits)
{
    EXPECT_EQ(overlay_stored_word(0xFF123456, 0xFFFFFF), 0xFFFFFFFFu);
    try {
        overlay_stored_word(0x01000010, 0x1000000);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "nds_rom::copy_to failed - compressed overlay too large for its table entry");
    }
}

TEST(crc16, check_value_and_agreement_with_a_bitwise_crc)
{
    constexpr std::string_view digits = "123456789";
    EXPECT_EQ(crc16(byte_span(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size())), 0x4B37);
    bytes data;
    std::uint16_t bitwise = 0xFFFF;
    for (int i = 0; i < 1000; ++i) {
        data.push_back(static_cast<std::uint8_t>(i * 37 + (i >> 3)));
        bitwise ^= data.back();
        for (int bit = 0; bit < 8; ++bit)
            bitwise = static_cast<std::uint16_t>((bitwise & 1) ? (bitwise >> 1) ^ 0xA001 : bitwise >> 1);
        ASSERT_EQ(crc16(data), bitwise) << i;
    }
}

} // namespace
} // namespace qm
