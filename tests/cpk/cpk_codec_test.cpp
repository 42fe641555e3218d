#include "cpk/cpk_compress.h"
#include "cpk/cpk_decompress.h"

#include "cpk_test_data.h"

#include "support/error_of.h"

#include <gtest/gtest.h>

#include <optional>

namespace qm {
namespace {

// A form of `size` bytes: zeros, then the last bytes of a hand-built token stream (read from the
// top down), then the 256-byte verbatim prefix, of 2s.
bytes form_of(std::size_t size, const bytes& stream_end)
{
    bytes form(size - 256 - stream_end.size(), 0);
    append_bytes(form, stream_end);
    form.resize(size, 2);
    return form;
}

bytes expand(const bytes& form, std::size_t n)
{
    bytes out(n, 0);
    cpk_decompress(form, out);
    return out;
}

using test::error_of;

// 384 zeros give the 268-byte form; files that would not shrink, or are shorter than 384 bytes,
// are stored; a form expands in place, from the start of the buffer it expands into.
TEST(cpk_compress, golden_form_stored_files_and_expansion_in_place)
{
    const std::optional<bytes> form = cpk_compress(bytes(384, 0));
    ASSERT_TRUE(form);
    bytes expected = {0x00, 0x00, 0x00, 0x00, 0x20, 0xEA, 0x7F, 0x00, 0x10, 0x00, 0x00, 0x00};
    expected.resize(268, 0);
    EXPECT_EQ(*form, expected);
    EXPECT_EQ(expand(*form, 384), bytes(384, 0));
    EXPECT_FALSE(cpk_compress(test::random_bytes(1000, 1)));
    EXPECT_FALSE(cpk_compress(bytes(383, 0)));
    EXPECT_FALSE(cpk_compress(bytes()));

    const bytes data = test::make_text_like(5000, 9);
    const bytes text_form = *cpk_compress(data);
    bytes buffer(data.size(), 0);
    std::copy(text_form.begin(), text_form.end(), buffer.begin());
    cpk_decompress(byte_span(buffer).first(text_form.size()), buffer);
    EXPECT_EQ(buffer, data);
}

// Data shapes the optimised match finder treats differently.
bytes generated_input(int shape, int variant, std::size_t n, std::mt19937& rng)
{
    const auto seed = static_cast<std::uint32_t>(rng());
    bytes data;
    switch (shape) {
    case 0:
        return test::random_bytes(n, seed);
    case 1:
        return test::make_text_like(n, seed);
    case 2: // small alphabet: long hash chains
        data = test::random_bytes(n, seed);
        for (auto& x : data)
            x &= 0x03;
        return data;
    case 3: // blocks of text, zeros and noise
        while (data.size() < n) {
            const std::size_t len = 1 + rng() % 700;
            append_bytes(data, rng() % 3 == 0 ? test::random_bytes(len, rng())
                               : rng() % 2    ? test::make_text_like(len, rng())
                                              : bytes(len, 0));
        }
        break;
    case 4: { // noise with short repeats copied in: between surely stored and compressed
        data = test::random_bytes(n, seed);
        const std::size_t repeats = n * variant / 180; // up to a tenth of the positions
        for (std::size_t k = 0; k < repeats; ++k) {
            const std::size_t length = 3 + rng() % 4;
            const std::size_t to = 260 + rng() % (n - 270 - length);
            const std::size_t from = std::min(n - length, to + length + rng() % 200);
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(from), length,
                        data.begin() + static_cast<std::ptrdiff_t>(to));
        }
        return data;
    }
    default: { // runs of one byte, where the finder steps over positions
        const std::uint32_t longest_run = variant % 3 == 0 ? 16 : variant % 3 == 1 ? 40 : 600;
        std::uint8_t palette[4];
        for (auto& p : palette)
            p = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0 : rng());
        // Runs of 3 to 6 bytes only: many as long as the cursor's, differing only below.
        while (data.size() < n) { // the byte drawn first, the run's length then
            const std::uint8_t value = palette[rng() % (variant % 2 ? 2 : 4)];
            data.insert(data.end(), variant % 5 == 4 ? 3 + rng() % 4 : 1 + rng() % longest_run, value);
        }
        data.resize(n);
        // Long runs at the top of the file (the first positions filed) and at the bottom.
        if (variant % 4 == 1)
            std::fill(data.end() - static_cast<std::ptrdiff_t>(rng() % 300), data.end(), palette[0]);
        if (variant % 4 == 2)
            std::fill(data.begin(), data.begin() + 256 + rng() % 100, palette[0]);
        return data;
    }
    }
    data.resize(n);
    return data;
}

// A file whose block of `length` bytes repeats the bytes `distance` higher up, surrounded by
// noise, so the compressor must emit exactly that match. A run of zeros at the bottom (encoded
// last) pays for the noise, so the form is used.
bytes planted_match(std::uint32_t length, std::uint32_t distance, std::uint32_t seed)
{
    const std::uint32_t start = 256 + 2048 + 40;
    const std::uint32_t n = start + length + distance + 64;
    bytes data = test::random_bytes(n, seed);
    std::fill(data.begin() + 256, data.begin() + 256 + 2048, 0);
    data[start + length] = static_cast<std::uint8_t>(data[start + length + distance] ^ 1); // ends it above
    for (std::uint32_t j = length; j > 0; --j) // from high to low, as the expansion does
        data[start + j - 1] = data[start + j - 1 + distance];
    data[start - 1] = static_cast<std::uint8_t>(data[start - 1 + distance] ^ 1); // ends it below
    return data;
}

// Malformed streams, each refused with its message.
TEST(cpk_decompress, malformed_streams_fail_with_their_message)
{
    const std::string p = "Decompression error: ";
    const struct {
        bytes form;
        std::size_t n;
        std::string message;
    } cases[] = {
        // N = T: the first token, a match of 298 at distance 3, would read above the buffer; the
        // overlap test comes first.
        {form_of(400, {0xFE, 0xFF, 0x03, 0x80}), 400, "overlap spotted"},
        // A match of 3 whose source, 8194 up, lies above the file.
        {form_of(264, {0xFC, 0xFF}), 300, "match source outside the file"},
        // Zero bits are literals; four stream bytes run out long before 44 bytes are produced.
        {bytes(260, 0), 300, "stream runs past its start"},
        // Literals 1, 2, 3, then matches of 200 and 10 at distance 3: 5 bytes too many.
        {form_of(272, {0x70, 0x00, 0x90, 0xF3, 0x7F, 0x00, 0x70, 0x80, 0x80, 0x00}), 256 + 3 + 200 + 5,
         "match runs into the verbatim prefix"},
        {bytes(255, 0), 300, "compressed form shorter than 256 bytes"},
        {bytes(256, 0), 256, "expanded size of 256 bytes or less"},
        {bytes(400, 0), 399, "expanded size below the compressed size"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(error_of([&] { expand(c.form, c.n); }), p + c.message);
}

// The bit limits of the format hold for the size check callers make before allocating.
TEST(cpk_decompress, the_longest_form_stays_within_the_expansion_bound)
{
    const bytes zeros(2'000'000, 0);
    const std::optional<bytes> form = cpk_compress(zeros);
    ASSERT_TRUE(form);
    EXPECT_LE(zeros.size(), cpk_max_extract_size(static_cast<std::uint32_t>(form->size())));
    EXPECT_EQ(cpk_max_extract_size(256), 256u);
}

// FNV-1a over each file's form (or a marker when it is stored); a used form must expand back,
// be a multiple of 4 and be shorter. Returns whether the form is used.
bool pack_into(std::uint64_t& h, const bytes& data)
{
    const std::optional<bytes> form = cpk_compress(data);
    h = test::fnv1a(form ? *form : bytes{0xEE}, h);
    if (form) {
        EXPECT_EQ(form->size() % 4, 0u);
        EXPECT_LT(form->size(), data.size());
        EXPECT_EQ(expand(*form, data.size()), data);
    }
    return form.has_value();
}

// The forms of each family of inputs are pinned by a digest recorded from today's compressor,
// whose every output here was checked byte for byte against a plain, one-bit-at-a-time version
// of the compression steps: any change in the match choices, the length code or the decision
// to store a file changes a digest.
TEST(cpk_compress, forms_of_generated_files_are_as_recorded)
{
    std::mt19937 rng(2024);
    std::uint64_t h[3] = {0xCBF29CE484222325, 0xCBF29CE484222325, 0xCBF29CE484222325};
    int used[6][2] = {};
    for (int i = 0; i < 108; ++i) {
        // Mostly small files; every tenth reaches well past the 8 KiB window.
        const std::size_t n = 384 + rng() % (i % 10 == 9 ? 40000 : 4000);
        ++used[i % 6][pack_into(h[0], generated_input(i % 6, i / 6, n, rng))];
    }
    // The noise with repeats lands on both sides of the decision.
    EXPECT_GT(used[4][0], 2);
    EXPECT_GT(used[4][1], 2);
    EXPECT_GT(used[5][1] + used[1][1] + used[3][1], 30);
    for (std::size_t n : {384u, 385u, 386u, 387u, 388u, 511u, 512u, 513u, 8450u, 8451u, 70000u}) {
        pack_into(h[1], bytes(n, 0xAB));
        pack_into(h[1], test::make_text_like(n, static_cast<std::uint32_t>(n)));
        bytes mixed = test::make_text_like(n, 3);
        for (std::size_t j = 0; j < n; j += 97)
            mixed[j] = static_cast<std::uint8_t>(j);
        pack_into(h[1], mixed);
    }
    // Lengths at each step of the length code, distances at both ends of the window.
    for (std::uint32_t length : {3u, 5u, 6u, 12u, 13u, 43u, 44u, 298u, 299u, 554u, 1000u})
        for (std::uint32_t distance : {3u, 7u, 8194u})
            EXPECT_TRUE(pack_into(h[2], planted_match(length, distance, length * 31 + distance)));
    EXPECT_EQ(
        std::vector<std::uint64_t>(h, h + 3),
        (std::vector<std::uint64_t>{1905444265306247396u, 13841872893007524378u, 5780421264237743626u}));
}

} // namespace
} // namespace qm
