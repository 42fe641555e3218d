#include "lz/nds_lz.h"
#include "lz_test_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>

namespace qm {
namespace {

using lz_test::from_hex;
using lz_test::from_text;

const std::string too_long = "nds_lz_comp failed - compressed buffer larger than source buffer";

// The packing algorithm step by step, without any shortcut: every candidate of a chain is
// compared in full, up to the window's end. Slow, but plainly right; the codec must agree with it
// byte for byte.
bytes reference_comp(const bytes& s)
{
    const std::size_t n = s.size();
    const std::size_t b = 4 * ((n + (n + 7) / 8 + 3) / 4) + 8;
    bytes work(b, 0);
    std::vector<std::uint32_t> head(0x8000, 0), chain(0x1001, 0);
    auto hash = [&](std::size_t q) { return ((s[q] << 10) ^ (s[q - 1] << 5) ^ s[q - 2]) & 0x7FFF; };
    auto insert = [&](std::size_t q) {
        chain[(n - q) % 0x1001] = head[hash(q)];
        head[hash(q)] = static_cast<std::uint32_t>(n - q);
    };
    std::size_t c = n, w = b, flag = 0, bits = 0, margin = 0;
    std::size_t snap_consumed = 0, snap_produced = 0, snap_flag_dist = 0;
    std::uint8_t snap_flag = 0;
    while (c > 0) {
        if (bits == 0) {
            flag = --w;
            bits = 8;
        }
        if (n - c > 2)
            insert(c + 2);
        std::size_t best = 0, best_pos = 0;
        if (c >= 3) {
            for (std::uint32_t e = head[hash(c - 1)]; e != 0; e = chain[e % 0x1001]) {
                const std::size_t p = n - e;
                if (p - c > 4097)
                    break;
                std::size_t k = 0;
                while (k < 18 && k < c && s[p - k] == s[c - 1 - k])
                    ++k;
                if (k > best) {
                    best = k;
                    best_pos = p;
                }
            }
        }
        if (best < 3) {
            --c;
            work[--w] = s[c];
        } else {
            for (std::size_t q = c + 1; q >= c + 3 - best; --q)
                insert(q);
            const std::size_t v = ((best - 3) << 12) | (best_pos - c - 2);
            work[w - 2] = static_cast<std::uint8_t>(v);
            work[w - 1] = static_cast<std::uint8_t>(v >> 8);
            work[flag] |= static_cast<std::uint8_t>(1 << (bits - 1));
            w -= 2;
            c -= best;
        }
        --bits;
        const std::size_t consumed = n - c, produced = b - w;
        if (consumed >= produced)
            margin = std::max(margin, consumed - produced);
        if (produced + margin <= consumed) {
            snap_consumed = consumed;
            snap_produced = produced;
            snap_flag_dist = b - flag;
            snap_flag = work[flag];
        }
    }
    if (b - w > n)
        throw std::runtime_error(too_long);
    bytes out;
    std::size_t r = 0;
    if (snap_consumed == n) {
        out.assign(work.begin() + static_cast<std::ptrdiff_t>(w), work.end());
    } else {
        work[b - snap_flag_dist] = snap_flag;
        r = n - snap_consumed;
        out.assign(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(r));
        out.insert(out.end(), work.end() - static_cast<std::ptrdiff_t>(snap_produced), work.end());
    }
    const std::size_t pad = (4 - out.size() % 4) % 4;
    out.resize(out.size() + pad);
    const std::size_t t = out.size() + 8;
    append_le32(out, static_cast<std::uint32_t>(((pad + 8) << 24) | (t - r)));
    append_le32(out, static_cast<std::uint32_t>(n - t));
    return out;
}

std::string pack_error(const bytes& data)
{
    try {
        nds_lz_comp(data);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

TEST(nds_lz_comp, golden_forms)
{
    const struct {
        bytes data;
        const char* packed;
    } cases[] = {
        {bytes(32, 0), "00 80 00 f0 00 00 00 18 10 00 00 08 10 00 00 00"},
        {bytes(64, 0), "00 40 00 f0 00 f0 00 f0 00 00 00 1e 14 00 00 08 2c 00 00 00"},
        {from_text("abcabcabcabcabcabcabcabc"), "00 00 00 f0 61 62 63 18 10 00 00 08 08 00 00 00"},
        {from_hex("00 01 02 03 04 05 06 07 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"),
         "00 01 02 03 04 05 06 07 00 00 00 f0 00 00 00 18 13 00 00 08 08 00 00 00"},
        {from_text("xyzAxyzBxyz"), "01 00 41 01 00 42 78 79 7a 0a 00 00 14 00 00 0a f7 ff ff ff"},
        {from_hex("01 02 03 04 05 06 07 08 00 00 00 00 00 00 00 00 00"),
         "01 02 03 04 05 06 07 08 00 30 00 00 00 10 00 00 14 00 00 0a f9 ff ff ff"},
        {bytes{}, "08 00 00 08 f8 ff ff ff"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nds_lz_comp(c.data), from_hex(c.packed)) << c.packed;
        EXPECT_EQ(reference_comp(c.data), from_hex(c.packed)) << c.packed;
    }
}

TEST(nds_lz_comp, incompressible_data_fails)
{
    bytes ramp(16);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(pack_error(ramp), too_long);
    for (std::size_t n = 1; n <= 3; ++n)
        EXPECT_EQ(pack_error(bytes(n, 0)), too_long) << n;
}

// Word A has 24 bits for the compressed region: data that would need more is refused rather
// than given a footer that lies.
TEST(nds_lz_comp, refuses_a_region_of_16_mib)
{
    // Twelve random bytes and six repeated ones, over and over: packs to about 87 %, with the
    // saving growing all along, so nearly all of it ends up in the compressed region.
    std::mt19937 rng(5);
    bytes data(20u << 20);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = i % 18 < 12 || i < 100 ? static_cast<std::uint8_t>(rng()) : data[i - 100];
    EXPECT_EQ(pack_error(data), "nds_lz_comp failed - compressed region too large");

    // 18 MiB of it stay just below the limit.
    data.resize(18u << 20);
    const bytes packed = nds_lz_comp(data);
    EXPECT_GT(get_le32(packed, packed.size() - 8) & 0xFFFFFF, 0xF00000u);
    EXPECT_EQ(nds_lz_inplace_decomp(packed), data);
}

// The shortcuts of the match search must never change the choice of match.
TEST(nds_lz_comp, agrees_with_the_plain_algorithm)
{
    std::mt19937 rng(2024);
    int packed = 0;
    for (int round = 0; round < 600; ++round) {
        const std::size_t n = round < 500 ? rng() % 700 : 4000 + rng() % 6000; // past the window too
        const bytes data = lz_test::make_data(rng, n, round);
        bytes expected;
        try {
            expected = reference_comp(data);
        } catch (const std::runtime_error&) {
            EXPECT_EQ(pack_error(data), too_long) << "round " << round;
            continue;
        }
        ASSERT_EQ(nds_lz_comp(data), expected) << "round " << round << ", kind " << round % 5 << ", size " << n;
        ++packed;
    }
    EXPECT_GT(packed, 400);
}

void expect_round_trip(const bytes& data, int& longer_than_data)
{
    bytes packed;
    try {
        packed = nds_lz_comp(data);
    } catch (const std::runtime_error& e) {
        ASSERT_EQ(e.what(), too_long);
        return;
    }
    ASSERT_EQ(packed.size() % 4, 0u);
    if (packed.size() > data.size())
        ++longer_than_data;
    ASSERT_EQ(nds_lz_inplace_decomp(packed), data) << "size " << data.size();
}

TEST(nds_lz_comp, round_trips)
{
    std::mt19937 rng(99);
    int longer = 0;
    for (std::size_t n = 0; n <= 4096; n += 1 + n / 16)
        for (int kind = 0; kind < 5; ++kind)
            expect_round_trip(lz_test::make_data(rng, n, kind), longer);
    for (int kind = 0; kind < 5; ++kind)
        expect_round_trip(lz_test::make_data(rng, 100 * 1024 + rng() % 4096, kind), longer);
    expect_round_trip(bytes(150 * 1024, 0x5a), longer);
    EXPECT_GT(longer, 0); // stored forms longer than their data were among them
}

} // namespace
} // namespace qm
