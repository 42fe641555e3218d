// Layout arithmetic of the rebuild and the header checksum, at their limits.

#include "rom/nds_rom.h"
#include "rom/rom_layout.h"

#include <gtest/gtest.h>

#include <string_view>

namespace qm {
namespace {

TEST(rom_layout, sections_start_on_512_byte_boundaries)
{
    EXPECT_EQ(section_start(0), 0u);
    EXPECT_EQ(section_start(1), 0x200u);
    EXPECT_EQ(section_start(0x200), 0x200u);
    EXPECT_EQ(section_start(0x201), 0x400u);
}

TEST(rom_layout, rebuilt_rom_may_not_reach_4_gib)
{
    // Up to 2 GiB the padded image stays at most 2 GiB; one byte more would pad it to 4 GiB.
    EXPECT_EQ(section_end(0x7FFFFE00, 0x200), 0x80000000u);
    EXPECT_EQ(section_end(0x80000000, 0), 0x80000000u);
    try {
        section_end(0x7FFFFE00, 0x201);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "nds_rom::copy_to failed - rebuilt ROM would reach 4 GiB");
    }
    // Lengths that would wrap a 32-bit (or 64-bit) sum.
    EXPECT_THROW(section_end(0x200, 0xFFFFFFFF), std::runtime_error);
    EXPECT_THROW(section_end(0x200, 0xFFFFFFFFFFFFFF00ull), std::runtime_error);
    EXPECT_THROW(section_end(0x80000200, 0), std::runtime_error);
}

TEST(rom_layout, image_size_and_capacity)
{
    EXPECT_EQ(image_size_exponent(0), 0u);
    EXPECT_EQ(image_size_exponent(1), 0u);
    EXPECT_EQ(image_size_exponent(2), 1u);
    EXPECT_EQ(image_size_exponent(0x100000), 20u);
    EXPECT_EQ(image_size_exponent(0x100001), 21u);
    EXPECT_EQ(image_size_exponent(0x80000000), 31u);
    EXPECT_EQ(capacity_code(20), 3);
    EXPECT_EQ(capacity_code(21), 4);
    EXPECT_EQ(capacity_code(17), 0);
    EXPECT_EQ(capacity_code(16), 0);
    EXPECT_EQ(capacity_code(0), 0);
}

TEST(rom_layout, packed_overlay_length_must_fit_24_bits)
{
    EXPECT_EQ(overlay_stored_word(0x01000010, 0x20), 0x01000020u);
    EXPECT_EQ(overlay_stored_word(0xFF123456, 0xFFFFFF), 0xFFFFFFFFu);
    try {
        overlay_stored_word(0x01000010, 0x1000000);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "nds_rom::copy_to failed - compressed overlay too large for its table entry");
    }
}

// CRC-16 computed bit by bit, to check the table-driven version against.
std::uint16_t crc16_bitwise(byte_span data)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = static_cast<std::uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

TEST(crc16, check_value_and_bitwise_agreement)
{
    constexpr std::string_view digits = "123456789";
    EXPECT_EQ(crc16(byte_span(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size())), 0x4B37);
    EXPECT_EQ(crc16({}), 0xFFFF);
    bytes data;
    for (int i = 0; i < 1000; ++i) {
        data.push_back(static_cast<std::uint8_t>(i * 37 + (i >> 3)));
        ASSERT_EQ(crc16(data), crc16_bitwise(data)) << i;
    }
}

} // namespace
} // namespace qm
