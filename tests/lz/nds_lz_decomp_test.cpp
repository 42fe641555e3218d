#include "lz/nds_lz.h"
#include "lz_test_data.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

namespace qm {
namespace {

using lz_test::from_hex;
using lz_test::from_text;

std::string decode_error(const bytes& stored)
{
    try {
        nds_lz_inplace_decomp(stored);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

TEST(nds_lz_decomp, expands_golden_forms)
{
    EXPECT_EQ(nds_lz_inplace_decomp(from_hex("00 80 00 f0 00 00 00 18 10 00 00 08 10 00 00 00")), bytes(32, 0));
    EXPECT_EQ(nds_lz_inplace_decomp(from_hex("00 00 00 f0 61 62 63 18 10 00 00 08 08 00 00 00")),
              from_text("abcabcabcabcabcabcabcabc"));

    bytes prefixed = {0, 1, 2, 3, 4, 5, 6, 7};
    prefixed.resize(32, 0);
    EXPECT_EQ(nds_lz_inplace_decomp(
                  from_hex("00 01 02 03 04 05 06 07 00 00 00 f0 00 00 00 18 13 00 00 08 08 00 00 00")),
              prefixed);
}

TEST(nds_lz_decomp, forms_longer_than_their_data)
{
    EXPECT_EQ(nds_lz_inplace_decomp(
                  from_hex("01 00 41 01 00 42 78 79 7a 0a 00 00 14 00 00 0a f7 ff ff ff")),
              from_text("xyzAxyzBxyz"));
    EXPECT_EQ(nds_lz_inplace_decomp(
                  from_hex("01 02 03 04 05 06 07 08 00 30 00 00 00 10 00 00 14 00 00 0a f9 ff ff ff")),
              from_hex("01 02 03 04 05 06 07 08 00 00 00 00 00 00 00 00 00"));
}

TEST(nds_lz_decomp, forms_with_nothing_to_decode)
{
    // What packing empty data gives decodes to empty data.
    EXPECT_EQ(nds_lz_inplace_decomp(from_hex("08 00 00 08 f8 ff ff ff")), bytes{});
    // No compressed region: the input is its own verbatim prefix.
    EXPECT_EQ(nds_lz_inplace_decomp(bytes(8, 0)), bytes(8, 0));
    // Decoded length 7 below a verbatim prefix of 8: the first 7 bytes, no token read.
    EXPECT_EQ(nds_lz_inplace_decomp(from_hex("00 80 00 f0 00 00 00 18 08 00 00 08 f7 ff ff ff")),
              from_hex("00 80 00 f0 00 00 00"));
}

TEST(nds_lz_decomp, size_failures)
{
    EXPECT_EQ(decode_error({}), "nds_lz_inplace_decomp failed - unexpected size of input");
    EXPECT_EQ(decode_error(bytes(3, 0)), "nds_lz_inplace_decomp failed - unexpected size of input");
    for (std::size_t t = 4; t < 8; ++t)
        EXPECT_EQ(decode_error(bytes(t, 0)), "nds_lz_decomp failed - unexpected size of input") << t;
    // A short input whose last word asks for a huge decoded size fails the same way, unallocated.
    EXPECT_EQ(decode_error(from_hex("00 ff ff ff 7f")), "nds_lz_decomp failed - unexpected size of input");

    bytes buffer(6, 0);
    EXPECT_THROW(nds_lz_decomp(buffer.data(), 6, buffer, 6), std::runtime_error);
}

TEST(nds_lz_decomp, overlap_is_spotted)
{
    // Decoded length 7: the read position 8 starts above the write position.
    EXPECT_EQ(decode_error(from_hex("00 80 00 f0 00 00 00 18 10 00 00 08 f7 ff ff ff")),
              "nds_lz_decomp failed - overlap spotted");
    // 00..07 and 24 zeros with no verbatim prefix: the literal 07 lands on a stream byte still
    // unread, and the next token sees the read position above the write position.
    EXPECT_EQ(decode_error(from_hex("00 01 02 03 04 00 05 06 07 00 00 00 f0 00 00 00 18 00 00 00 "
                                    "1c 00 00 0b 04 00 00 00")),
              "nds_lz_decomp failed - overlap spotted");
}

TEST(nds_lz_decomp, malformed_forms_are_rejected)
{
    const std::string prefix = "nds_lz_decomp failed - ";
    // Each form below differs from a good 16-byte one (32 zeros) in its footer or stream.
    const struct {
        const char* hex;
        const char* reason;
    } cases[] = {
        {"00 80 00 f0 00 00 00 18 10 00 00 04 10 00 00 00", "footer length out of range"},
        {"00 80 00 f0 00 00 00 18 0c 00 00 10 10 00 00 00", "footer longer than the compressed region"},
        {"00 80 00 f0 00 00 00 18 11 00 00 08 10 00 00 00", "compressed region longer than the input"},
        {"00 80 00 f0 00 00 00 18 10 00 00 08 ff ff ff 7f", "decoded size out of reach of the token stream"},
        // Stream of 8 bytes asked to produce 60: it runs out.
        {"00 80 00 f0 00 00 00 18 10 00 00 08 2c 00 00 00", "token stream runs below the compressed region"},
        // Flag 0xff: the first token is a match whose source lies above the decoded data.
        {"00 80 00 f0 00 00 00 ff 10 00 00 08 10 00 00 00", "match source beyond the decoded data"},
        // Verbatim prefix of 12 bytes, decoded length 20: the match of 18 would write into it.
        {"00 00 00 00 00 00 00 00 00 00 00 00 00 f0 80 0b 00 00 08 fd ff ff ff",
         "match reaches below the compressed region"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decode_error(from_hex(c.hex)), prefix + c.reason) << c.hex;
}

TEST(nds_lz_decomp, mutated_forms_decode_or_fail_cleanly)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        const bytes data = lz_test::make_data(rng, 40 + rng() % 400, 1 + round % 4); // all compressible
        const bytes good = nds_lz_comp(data);
        for (int m = 0; m < 200; ++m) {
            bytes bad = good;
            const int flips = 1 + static_cast<int>(rng() % 3);
            for (int f = 0; f < flips; ++f)
                bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
            if (rng() % 8 == 0)
                bad.resize(rng() % bad.size());
            try {
                const bytes out = nds_lz_inplace_decomp(bad);
                ASSERT_GE(bad.size(), 8u);
                EXPECT_EQ(out.size(), static_cast<std::uint32_t>(bad.size() + get_le32(bad, bad.size() - 4)));
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(std::string(e.what()).rfind("nds_lz_", 0), 0u) << e.what();
            }
        }
    }
}

} // namespace
} // namespace qm
