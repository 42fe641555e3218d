// The LZMA wrapper: packed data comes back unchanged; short streams and bad properties fail.

#include "lzma/lzma_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qm {
namespace {

bytes sample_text(std::size_t size)
{
    static const std::string words[] = {"patch ", "overlay ", "font ", "Quillmoor ", "le ", "chevalier "};
    std::mt19937 rng(5);
    bytes out;
    while (out.size() < size) {
        const std::string& w = words[rng() % std::size(words)];
        out.insert(out.end(), w.begin(), w.end());
        if (rng() % 8 == 0)
            out.push_back(static_cast<std::uint8_t>(rng()));
    }
    out.resize(size);
    return out;
}

bool unpack(const lzma_packed& p, byte_span stream, bytes& out)
{
    return lzma_unpack(p.props, stream, out);
}

TEST(lzma_codec, round_trip)
{
    std::mt19937 rng(1);
    bytes noise(100000);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(rng());
    for (const bytes& data : {bytes{}, bytes{'x'}, sample_text(256u << 10), noise}) {
        const lzma_packed p = lzma_pack(data);
        bytes out(data.size(), 0xCC);
        ASSERT_TRUE(unpack(p, p.stream, out)) << data.size() << " bytes";
        EXPECT_TRUE(out == data) << data.size() << " bytes";
    }
}

TEST(lzma_codec, packing_is_deterministic_and_compact)
{
    const bytes data = sample_text(256u << 10);
    const lzma_packed a = lzma_pack(data);
    const lzma_packed b = lzma_pack(data);
    EXPECT_EQ(a.props, b.props);
    EXPECT_EQ(a.stream, b.stream);
    EXPECT_LT(a.stream.size(), data.size() / 4);
    // lc=3, lp=0, pb=2, and a dictionary no larger than 16 MiB.
    EXPECT_EQ(a.props[0], 3 + 9 * (0 + 5 * 2));
    const std::uint32_t dict = a.props[1] | (a.props[2] << 8) | (a.props[3] << 16) | (a.props[4] << 24);
    EXPECT_LE(dict, 16u << 20);
}

TEST(lzma_codec, decoding_stops_when_the_output_is_full)
{
    // No end marker is needed, and a smaller output takes a prefix.
    const bytes data = sample_text(50000);
    const lzma_packed p = lzma_pack(data);
    bytes half(data.size() / 2);
    ASSERT_TRUE(unpack(p, p.stream, half));
    EXPECT_TRUE(std::equal(half.begin(), half.end(), data.begin()));
}

TEST(lzma_codec, stream_cut_short_fails)
{
    const bytes data = sample_text(200000);
    const lzma_packed p = lzma_pack(data);
    bytes out(data.size());
    for (std::size_t keep :
         {std::size_t{0}, std::size_t{4}, std::size_t{5}, p.stream.size() / 2, p.stream.size() - 16}) {
        EXPECT_FALSE(unpack(p, byte_span(p.stream).first(keep), out)) << "kept " << keep;
    }
    // Asking for more output than was packed runs out of input as well.
    bytes longer(data.size() + 1000);
    EXPECT_FALSE(unpack(p, p.stream, longer));
}

TEST(lzma_codec, corrupt_properties_or_stream_fail)
{
    const bytes data = sample_text(10000);
    lzma_packed p = lzma_pack(data);
    bytes out(data.size());
    for (std::uint8_t bad : {std::uint8_t{225}, std::uint8_t{0xFF}}) {
        lzma_packed q = p;
        q.props[0] = bad; // lc/lp/pb byte must stay below 9 * 5 * 5
        EXPECT_FALSE(unpack(q, q.stream, out)) << int(bad);
    }
    EXPECT_FALSE(lzma_unpack(byte_span(p.props).first(4), p.stream, out)) << "properties too short";
    // The range coder's first byte is always zero.
    p.stream[0] = 1;
    EXPECT_FALSE(unpack(p, p.stream, out));
}

} // namespace
} // namespace qm
