// The LZMA wrapper: packed data comes back unchanged; short streams and bad properties fail.

#include "lzma/lzma_codec.h"

#include <gtest/gtest.h>

#include <random>

namespace qm {
namespace {

// Text-like data (repeated words) or, with `noise`, random bytes.
bytes sample(std::size_t size, bool noise = false)
{
    static const std::string words[] = {"patch ", "overlay ", "font ", "Quillmoor ", "le ", "chevalier "};
    std::mt19937 rng(5);
    bytes out;
    while (out.size() < size) {
        const std::string w = noise ? std::string(1, static_cast<char>(rng())) : words[rng() % 6];
        out.insert(out.end(), w.begin(), w.end());
    }
    out.resize(size);
    return out;
}

TEST(lzma_codec, round_trips_deterministically_compactly_and_decodes_a_prefix)
{
    for (const bytes& data : {bytes{}, bytes{'x'}, sample(256u << 10), sample(100000, true)}) {
        const lzma_packed p = lzma_pack(data);
        EXPECT_EQ(lzma_pack(data).stream, p.stream);
        bytes out(data.size(), 0xCC), half(data.size() / 2);
        ASSERT_TRUE(lzma_unpack(p.props, p.stream, out) && lzma_unpack(p.props, p.stream, half));
        EXPECT_TRUE(out == data) << data.size();
        EXPECT_TRUE(std::equal(half.begin(), half.end(), data.begin())); // no end marker needed
    }
    const lzma_packed text = lzma_pack(sample(256u << 10));
    EXPECT_LT(text.stream.size(), (64u << 10));
    EXPECT_EQ(text.props[0], 3 + 9 * (0 + 5 * 2)); // lc=3, lp=0, pb=2
    EXPECT_LE(get_le32(text.props, 1), 16u << 20); // the dictionary
}

TEST(lzma_codec, cut_streams_longer_outputs_and_bad_properties_fail)
{
    const bytes data = sample(200000);
    const lzma_packed p = lzma_pack(data);
    bytes out(data.size()), longer(data.size() + 1000);
    for (std::size_t keep :
         {std::size_t{0}, std::size_t{4}, std::size_t{5}, p.stream.size() / 2, p.stream.size() - 16})
        EXPECT_FALSE(lzma_unpack(p.props, byte_span(p.stream).first(keep), out)) << "kept " << keep;
    EXPECT_FALSE(lzma_unpack(p.props, p.stream, longer)); // runs out of input
    EXPECT_FALSE(lzma_unpack(byte_span(p.props).first(4), p.stream, out));
    // The lc/lp/pb byte must stay below 9 * 5 * 5; the range coder's first byte is always zero.
    for (int bad : {225, 0xFF, -1}) {
        lzma_packed q = p;
        (bad < 0 ? q.stream[0] : q.props[0]) = static_cast<std::uint8_t>(bad < 0 ? 1 : bad);
        EXPECT_FALSE(lzma_unpack(q.props, q.stream, out)) << bad;
    }
}

} // namespace
} // namespace qm
