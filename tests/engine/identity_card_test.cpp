// The fingerprints of the identity card: CRC-32 against its bitwise definition, SHA-1 against
// published check values, both fed in pieces, and the card's text read back or refused.

#include "engine/identity_card.h"
#include "engine/output_fingerprint.h"
#include "engine/sha1.h"
#include "job_fixture.h"
#include "vcdiff/delta_builder.h"

#include <memory>
#include <system_error>
#include <thread>

namespace qm {
namespace {

// CRC-32: the check value, and the definition one bit at a time against the fast code at the
// lengths around its 16- and 64-byte blocks, from an even and an odd start. SHA-1: published
// check values. Both fed in pieces.
TEST(checksums, crc32_and_sha1_against_their_definitions_and_check_values_fed_in_pieces)
{
    EXPECT_EQ(crc32(test::text("123456789")), 0xCBF43926u);
    const bytes random = test::pattern(1000, 9);
    for (std::size_t start : {0, 3})
        for (std::size_t n : {0, 1, 4, 15, 16, 17, 31, 32, 33, 63, 64, 65, 80, 127, 128, 143, 997}) {
            std::uint32_t r = 0xFFFFFFFFu;
            for (std::size_t i = start; i < start + n; ++i)
                for (int k = 0, b = random[i]; k < 8; ++k, b >>= 1)
                    r = (r >> 1) ^ (0xEDB88320u & (0u - ((r ^ b) & 1)));
            EXPECT_EQ(crc32(byte_span(random).subspan(start, n)), ~r) << start << " " << n;
        }

    EXPECT_EQ(sha1::hex(sha1::of({})), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(sha1::hex(sha1::of(test::text("abc"))), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1::hex(sha1::of(test::text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    bytes million(1000000, 'a');
    EXPECT_EQ(sha1::hex(sha1::of(million)), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    // Lengths around the padding's edges, fed whole and in two pieces, with CRC-32 alike.
    for (std::size_t n : {55, 56, 63, 64, 65, 119, 120, 1000}) {
        const byte_span data = byte_span(million).first(n);
        for (std::size_t cut : {std::size_t{0}, std::size_t{1}, n / 2, n}) {
            sha1 h;
            h.update(data.first(cut));
            h.update(data.subspan(cut));
            EXPECT_EQ(h.finish(), sha1::of(data)) << n << " " << cut;
            EXPECT_EQ(crc32_continue(crc32_continue(0, data.first(cut)), data.subspan(cut)), crc32(data));
        }
    }
}

// The proof of a written ROM: pieces, blocks handed over whole and runs of zeros fingerprinted as
// the whole image, the same whether SHA-1 runs on a helper thread, on the caller's, or on the
// caller's because the system had no thread to give the helper.
TEST(output_fingerprint, the_whole_image_with_or_without_a_helper_or_when_none_can_start)
{
    bytes head = test::pattern(3 << 20, 5); // more than the helper's blocks
    std::copy_n("QLMOR\0\0\0\0\0\0\0YQLE", 16, head.begin());
    bytes image = head;
    image.resize(image.size() + 70000); // zeros
    image.push_back(0x5A);

    int starts = 0;
    const auto refuse = [&](std::function<void()>) -> std::thread {
        ++starts;
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    const auto run = [&](std::function<void()> loop) {
        ++starts;
        return std::thread(std::move(loop));
    };
    std::vector<std::unique_ptr<output_fingerprint>> modes;
    modes.push_back(std::make_unique<output_fingerprint>(false));
    modes.push_back(std::make_unique<output_fingerprint>(true, run));
    modes.push_back(std::make_unique<output_fingerprint>(true, refuse));
    for (auto& f : modes) {
        f->take(byte_span(head).first(10));
        f->take(byte_span(head).subspan(10, 1000));
        bytes block(head.begin() + 1010, head.end());
        f->take_block(block);
        f->take_zeros(70000);
        f->take(test::text("Z"));
        const rom_fingerprint r = f->result();
        EXPECT_EQ(std::tuple(r.size, r.crc32, r.sha1, r.title, r.game_code),
                  std::tuple(std::uint64_t{image.size()}, crc32(image), sha1::hex(sha1::of(image)), "QLMOR",
                             "YQLE"));
    }
    EXPECT_EQ(starts, 2); // once each, the refused one not asked again
}

TEST(identity_card, written_and_read_back)
{
    identity_card card;
    card.original = {"QLMOR", "YQLE", 134217728, 0x89ABCDEF, std::string(40, 'a')};
    card.translated = {"QLMOR", "YQLE", 134217729, 0x01234567, std::string(40, '0')};
    card.sections = {{2, 0x11111111, 0x22222222, ""},
                     {0x000C0006, 0xDEADBEEF, 0xFEEDFACE, "script/event.cpk"}};
    const std::string text = write_identity_card(card);
    const identity_card back = read_identity_card(text);
    EXPECT_EQ(write_identity_card(back), text); // every field read back
    EXPECT_TRUE(back.original.same_file(card.original) && back.translated.same_file(card.translated));
    EXPECT_EQ(back.sections.at(1).crc_before, 0xDEADBEEFu);
    // Windows line ends and keys of a later version are read past.
    std::string crlf;
    for (char c : text + "future.key 1\n")
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(write_identity_card(read_identity_card(crlf)), text);

    const std::pair<std::string, std::string> broken[] = {
        {"", "identity card - not an identity card"},
        {"quillmoor identity card 2\n", "identity card - not an identity card"},
        {text.substr(0, text.find("original.sha1")), "identity card - no original.sha1"},
        {text + "section 2 zz 0\n", "identity card - bad CRC-32 \"zz\""},
        {text + "section 123456789 0 0\n", "identity card - bad section code \"123456789\""},
        {text.substr(0, text.find("134217728")) + "-1" + text.substr(text.find("134217728") + 9),
         "identity card - bad size \"-1\""},
    };
    for (const auto& [t, message] : broken)
        EXPECT_EQ(test::error_of([&] { read_identity_card(t); }), message);
}

} // namespace
} // namespace qm
