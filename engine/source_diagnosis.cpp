#include "engine/source_diagnosis.h"

#include "engine/crc32.h"
#include "engine/output_fingerprint.h"
#include "engine/patcher.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "rom/section_contents.h"

#include <algorithm>
#include <array>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <unordered_map>

namespace qm {

namespace {

std::optional<std::uint32_t> section_crc(nds_rom& rom,
                                         const std::unordered_map<std::uint32_t, rom_section>& by_code,
                                         const card_section& s)
{
    std::uint32_t code = s.code;
    if (section_kind_of(code) == section_kind::file && !s.path.empty()) {
        try {
            code = make_section_code(section_kind::file, rom.get_file_id("/" + s.path));
        } catch (const std::exception&) {
            return std::nullopt; // the file system has no such file
        }
    }
    const auto it = by_code.find(code);
    if (it == by_code.end())
        return std::nullopt;
    try {
        const bytes contents = read_section_contents(rom, it->second);
        return crc32(contents);
    } catch (const std::exception&) {
        return std::nullopt; // cut short, or an overlay that does not expand
    }
}

// The header's count of bytes the ROM's data takes (0 when the file is too short to say).
std::uint64_t used_size(rom_source& file)
{
    std::array<std::uint8_t, 4> field{};
    if (!in_bounds(file.size(), nds::hdr_used_rom_size, field.size()))
        return 0;
    file.read_at(nds::hdr_used_rom_size, field);
    return get_le32(field, 0);
}

// A dump trimmed of its final padding: the file, padded again up to the original's size with the
// byte that padding is made of (zeros in rebuilt ROMs, 0xFF on cartridges), is the original.
bool is_trimmed_copy_of(rom_source& file, const rom_fingerprint& original)
{
    if (file.size() >= original.size)
        return false;
    bytes block;
    for (const std::uint8_t fill : {0x00, 0xFF}) {
        output_fingerprint f;
        read_in_blocks(file, 0, file.size(), block, [&](bytes& part) { f.take(part); });
        const bytes padding(1u << 16, fill);
        for (std::uint64_t left = original.size - file.size(); left != 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, padding.size()));
            f.take(byte_span(padding).first(n));
            left -= n;
        }
        if (f.result().same_file(original))
            return true;
    }
    return false;
}

} // namespace

source_diagnosis diagnose_source(const std::filesystem::path& path, const identity_card* card)
{
    source_diagnosis d;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return d;
    try {
        d.found = fingerprint_file(path);
    } catch (const std::exception&) {
        return d;
    }

    const bool names_match =
        card && d.found.title == card->original.title && d.found.game_code == card->original.game_code;
    if (card && card->translated.same_file(d.found)) {
        d.verdict = source_verdict::already_translated;
        d.whole_file = true;
        return d;
    }
    if (card && card->original.same_file(d.found)) {
        d.verdict = source_verdict::expected;
        d.whole_file = true;
        return d;
    }
    std::unique_ptr<rom_source> file;
    try {
        file = std::make_unique<file_source>(path);
        // Cut short: the file ends before the data its header says it holds (a trimmed ROM,
        // without its final padding, is whole).
        if (names_match && d.found.size < card->original.size && d.found.size < used_size(*file)) {
            d.verdict = source_verdict::cut;
            return d;
        }
        if (names_match && is_trimmed_copy_of(*file, card->original)) {
            d.verdict = source_verdict::expected;
            d.whole_file = d.trimmed = true;
            return d;
        }
    } catch (const std::exception&) {
        return d; // unreadable after all
    }

    std::unique_ptr<nds_rom> rom;
    try {
        rom = std::make_unique<nds_rom>(std::move(file));
    } catch (const std::exception&) {
        d.verdict = source_verdict::not_a_rom;
        return d;
    }
    if (!is_expected_game(*rom)) {
        d.verdict = source_verdict::other_game;
        return d;
    }
    if (!card || card->sections.empty()) {
        d.verdict = source_verdict::game_unverified;
        return d;
    }

    std::unordered_map<std::uint32_t, rom_section> by_code;
    for (const rom_section& s : rom->list_sections())
        by_code.emplace(s.code, s);
    bool all_translated = true;
    std::optional<source_diagnosis> first_difference;
    for (const card_section& s : card->sections) {
        const std::optional<std::uint32_t> crc = section_crc(*rom, by_code, s);
        all_translated = all_translated && crc == s.crc_after;
        if (crc != s.crc_before && !first_difference) {
            first_difference = d;
            first_difference->differing = s;
            first_difference->found_crc = crc;
        }
    }
    if (all_translated) {
        d.verdict = source_verdict::already_translated;
        return d;
    }
    if (first_difference) {
        d = *first_difference;
        d.verdict = source_verdict::other_release;
        return d;
    }
    d.verdict = source_verdict::expected;
    return d;
}

} // namespace qm
