#pragma once
// The identity card of a patch: which ROM it was made from, which ROM it must produce, and the
// checksums of every section it changes, before and after. make-patch writes it beside the packed
// archive and the front ends carry it, so that they can tell a player what a refused file is and
// prove a result. The archive itself does not depend on it.
//
// The card is a small UTF-8 text, one "key value" per line:
//
//   quillmoor identity card 1
//   original.title QLMOR            (the header's title field, up to its first zero byte)
//   original.game_code YQLE
//   original.size 134217728         (bytes of the whole file)
//   original.crc32 1b2c3d4e         (8 hexadecimal digits)
//   original.sha1 <40 hexadecimal digits>
//   translated.title ... translated.sha1    (the same five for the ROM the patch produces)
//   section 00000002 1b2c3d4e 5f6a7b8c [PATH]
//
// One "section" line per section the patch changes, in the order the ROM is written: its section
// code, the CRC-32 of its contents before and after (overlays expanded), and for a file its path
// as the progress shows it. Lines starting with "#" and unknown keys are ignored.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

struct rom_fingerprint {
    std::string title;     // printable ASCII; other bytes read as "?"
    std::string game_code; // 4 characters, or fewer for a file too short to have them
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
    std::string sha1; // 40 lowercase hexadecimal digits

    bool same_file(const rom_fingerprint& other) const noexcept
    {
        return size == other.size && crc32 == other.crc32 && sha1 == other.sha1;
    }
};

// The whole file read in large blocks; the title and code from its first 16 bytes.
rom_fingerprint fingerprint_file(const std::filesystem::path& path);
// Title and game code of a header's first 16 bytes (as many as `header` holds).
void read_header_names(std::string_view header, rom_fingerprint& into);

struct card_section {
    std::uint32_t code = 0;
    std::uint32_t crc_before = 0;
    std::uint32_t crc_after = 0;
    std::string path; // for files (kind 6): the path as the progress shows it, without a leading "/"
};

struct identity_card {
    rom_fingerprint original;
    rom_fingerprint translated;
    std::vector<card_section> sections;
};

std::string write_identity_card(const identity_card& card);
// Throws std::runtime_error ("identity card - ...") when the text is not a card.
identity_card read_identity_card(std::string_view text);

// The card that belongs beside a packed archive file: "<archive>.card".
std::filesystem::path card_path_for(const std::filesystem::path& archive);

} // namespace qm
