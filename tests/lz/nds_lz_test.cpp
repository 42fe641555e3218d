#include "lz/nds_lz.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qm {
namespace {

using test::error_of;

const std::string too_long = "nds_lz_comp failed - compressed buffer larger than source buffer";

bytes from_hex(const std::string& hex)
{
    bytes out;
    std::istringstream in(hex);
    for (unsigned v = 0; in >> std::hex >> v;)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

// Data of every character the codec meets: noise, runs, short periods, two letters (many
// medium-length matches), and noise with blocks copied from up to 5000 bytes back.
bytes make_data(std::mt19937& rng, std::size_t n, int kind)
{
    bytes out(n);
    const std::size_t period = 1 + rng() % 9;
    for (std::size_t i = 0; i < n; ++i) {
        const auto noise = static_cast<std::uint8_t>(rng());
        if (kind % 5 == 1)
            out[i] = i > 0 && noise % 32 != 0 ? out[i - 1] : noise & 3;
        else if (kind % 5 == 2)
            out[i] = i < period ? noise : out[i - period];
        else if (kind % 5 == 3)
            out[i] = noise % 2 ? 'a' : 'b';
        else
            out[i] = noise;
        if (kind % 5 == 4 && i > 64 && noise % 16 == 0) {
            const std::size_t from = i - 1 - rng() % std::min<std::size_t>(i - 1, 5000);
            for (std::size_t k = 0, len = 3 + rng() % 30; k < len && i < n; ++k, ++i)
                out[i] = out[from + k];
            --i;
        }
    }
    return out;
}

// FNV-1a over the stored forms: a recorded digest of many outputs pins every match choice.
std::uint64_t digest(std::uint64_t h, const bytes& b)
{
    for (std::uint8_t x : b)
        h = (h ^ x) * 0x100000001B3;
    return h;
}

// Data, and the stored form it packs to byte for byte (or none when packing is refused); each
// form expands back to its data.
TEST(nds_lz, golden_forms)
{
    const auto from_text = [](std::string_view s) { return bytes(s.begin(), s.end()); };
    const struct {
        bytes data;
        const char* packed;
    } cases[] = {
        {bytes(32, 0), "00 80 00 f0 00 00 00 18 10 00 00 08 10 00 00 00"},
        {bytes(64, 0), "00 40 00 f0 00 f0 00 f0 00 00 00 1e 14 00 00 08 2c 00 00 00"},
        {from_text("abcabcabcabcabcabcabcabc"), "00 00 00 f0 61 62 63 18 10 00 00 08 08 00 00 00"},
        {from_hex("00 01 02 03 04 05 06 07 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                  "00 00"),
         "00 01 02 03 04 05 06 07 00 00 00 f0 00 00 00 18 13 00 00 08 08 00 00 00"},
        // Stored forms longer than their data: footer word B wraps below zero.
        {from_text("xyzAxyzBxyz"), "01 00 41 01 00 42 78 79 7a 0a 00 00 14 00 00 0a f7 ff ff ff"},
        {from_hex("01 02 03 04 05 06 07 08 00 00 00 00 00 00 00 00 00"),
         "01 02 03 04 05 06 07 08 00 30 00 00 00 10 00 00 14 00 00 0a f9 ff ff ff"},
        {bytes{}, "08 00 00 08 f8 ff ff ff"},
        {from_hex("00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f"), nullptr},
        {bytes(1, 0), nullptr},
        {bytes(2, 0), nullptr},
        {bytes(3, 0), nullptr},
    };
    for (const auto& c : cases) {
        if (!c.packed) {
            EXPECT_EQ(error_of([&] { nds_lz_comp(c.data); }), too_long) << c.data.size();
            continue;
        }
        EXPECT_EQ(nds_lz_comp(c.data), from_hex(c.packed)) << c.packed;
        EXPECT_EQ(nds_lz_inplace_decomp(from_hex(c.packed)), c.data) << c.packed;
    }
    // No compressed region: the input is its own verbatim prefix.
    EXPECT_EQ(nds_lz_inplace_decomp(bytes(8, 0)), bytes(8, 0));
    // Decoded length 7 below a verbatim prefix of 8: the first 7 bytes, no token read.
    EXPECT_EQ(nds_lz_inplace_decomp(from_hex("00 80 00 f0 00 00 00 18 08 00 00 08 f7 ff ff ff")),
              from_hex("00 80 00 f0 00 00 00"));
}

// The stored forms of a seeded family of inputs (up to 110 KiB, past the 4 KiB window) are
// pinned by a digest recorded from today's packer, whose every output was checked byte for
// byte against a plain step-by-step version of the algorithm: any change in the match choices
// or the footer changes it. Every stored form must expand back to its data.
TEST(nds_lz, packs_generated_data_as_recorded_and_round_trips)
{
    std::mt19937 rng(2024);
    std::uint64_t h = 0xCBF29CE484222325;
    int packed = 0, longer = 0;
    for (int round = 0; round < 556; ++round) {
        const std::size_t n = round < 400   ? rng() % 700
                              : round < 450 ? rng() % 4200
                              : round < 550 ? 4000 + rng() % 6000
                                            : 100 * 1024 + rng() % 4096;
        const bytes data = round == 555 ? bytes(150 * 1024, 0x5a) : make_data(rng, n, round);
        SCOPED_TRACE("round " + std::to_string(round) + ", size " + std::to_string(data.size()));
        bytes stored;
        const std::string error = error_of([&] { stored = nds_lz_comp(data); });
        h = digest(h, error.empty() ? stored : bytes{0xEE});
        if (!error.empty()) {
            ASSERT_EQ(error, too_long);
            continue;
        }
        ASSERT_EQ(stored.size() % 4, 0u);
        ASSERT_EQ(nds_lz_inplace_decomp(stored), data);
        ++packed;
        longer += stored.size() > data.size();
    }
    EXPECT_GT(packed, 400);
    EXPECT_GT(longer, 0);
    EXPECT_EQ(h, 14384638862564325877u);
}

TEST(nds_lz, malformed_stored_forms_are_refused)
{
    const std::string short_input = "nds_lz_inplace_decomp failed - unexpected size of input";
    const std::string size = "nds_lz_decomp failed - unexpected size of input";
    const std::string overlap = "nds_lz_decomp failed - overlap spotted";
    const std::string p = "nds_lz_decomp failed - ";
    const struct {
        const char* hex;
        std::string message;
    } cases[] = {
        {"", short_input},
        {"00 00 00", short_input},
        {"00 00 00 00", size},
        {"00 00 00 00 00 00 00", size},
        {"00 ff ff ff 7f", size}, // a huge decoded size, refused before allocating it
        // Decoded length 7: the read position 8 starts above the write position.
        {"00 80 00 f0 00 00 00 18 10 00 00 08 f7 ff ff ff", overlap},
        // 00..07 and 24 zeros with no verbatim prefix: the literal 07 lands on a stream byte
        // still unread, and the next token sees the read position above the write position.
        {"00 01 02 03 04 00 05 06 07 00 00 00 f0 00 00 00 18 00 00 00 1c 00 00 0b 04 00 00 00", overlap},
        // The rest differ from the good form of 32 zeros in their footer or stream.
        {"00 80 00 f0 00 00 00 18 10 00 00 04 10 00 00 00", p + "footer length out of range"},
        {"00 80 00 f0 00 00 00 18 0c 00 00 10 10 00 00 00", p + "footer longer than the compressed region"},
        {"00 80 00 f0 00 00 00 18 11 00 00 08 10 00 00 00", p + "compressed region longer than the input"},
        {"00 80 00 f0 00 00 00 18 10 00 00 08 ff ff ff 7f",
         p + "decoded size out of reach of the token stream"},
        {"00 80 00 f0 00 00 00 18 10 00 00 08 2c 00 00 00",
         p + "token stream runs below the compressed region"},
        {"00 80 00 f0 00 00 00 ff 10 00 00 08 10 00 00 00", p + "match source beyond the decoded data"},
        // Verbatim prefix of 12, decoded length 20: the match of 18 would write into the prefix.
        {"00 00 00 00 00 00 00 00 00 00 00 00 00 f0 80 0b 00 00 08 fd ff ff ff",
         p + "match reaches below the compressed region"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(error_of([&] { nds_lz_inplace_decomp(from_hex(c.hex)); }), c.message) << c.hex;
    bytes buffer(6, 0);
    EXPECT_THROW(nds_lz_decomp(byte_span(buffer).first(6), buffer, 6), std::runtime_error);
}

} // namespace
} // namespace qm
