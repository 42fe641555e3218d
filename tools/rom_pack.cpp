// rom-pack: a ROM folder back into a ROM, through the rebuild that every ROM goes through.

#include "rom/dsi_area.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "tools/rom_folder.h"
#include "tools/rom_folder_image.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace qm {

namespace {

[[noreturn]] void fail(const std::string& where, const std::string& reason)
{
    throw std::runtime_error("rom folder - " + where + ": " + reason);
}

std::string hex(std::uint64_t value, int digits = 1)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

// The image is laid out from the manifest, but read as a ROM through header.bin's fields and the
// tables: they must give back the manifest's sections, in its order and at the places laid out,
// its DSi area and its banner's length, or the rebuild would not be that of the folder.
void check_layout(nds_rom& rom, const rom_folder_image& image, const rom_folder_manifest& m)
{
    const std::vector<rom_section> sections = rom.list_sections();
    for (std::size_t i = 0; i < std::max(sections.size(), m.sections.size()); ++i) {
        if (i >= m.sections.size())
            fail("header.bin", "with it the folder's ROM has a section " + hex(sections[i].code, 8) +
                                   " that manifest.txt does not list");
        const rom_folder_section& expected = m.sections[i];
        if (i >= sections.size() || sections[i].code != expected.code ||
            sections[i].entry != expected.entry || sections[i].offset != image.place_of(i))
            fail("header.bin", "with it the folder's ROM does not have the sections of manifest.txt in their "
                               "order (line " +
                                   std::to_string(expected.line) + ", section " + hex(expected.code, 8) +
                                   ")");
    }
    const dsi_area area = dsi_area::of(rom, sections);
    const bool carried = m.dsi.state == dsi_state::carried;
    if (area.carried() != carried ||
        (carried && (area.offset() != image.dsi_place() || area.size() != m.dsi.size)))
        fail("header.bin", "its DSi fields do not give the area that manifest.txt's dsi line gives");
    const std::uint32_t banner = nds::banner_length + rom.banner_extension();
    if (m.banner_length != 0 && banner != m.banner_length)
        fail("banner.bin", "its version field and CRC-16 make it a banner of " + hex(banner) +
                               " bytes, not the " + hex(m.banner_length) +
                               " that manifest.txt gives (an edited banner needs the CRC-16 of its version)");
}

} // namespace

void pack_rom_folder(const std::filesystem::path& dir, rom_sink& sink)
{
    const rom_folder_manifest m = load_rom_folder(dir);
    auto layout = std::make_unique<rom_folder_image>(dir, m);
    const rom_folder_image& image = *layout;
    std::unique_ptr<nds_rom> rom;
    try {
        rom = std::make_unique<nds_rom>(std::move(layout));
    } catch (const std::runtime_error& e) {
        // Every section has its place inside the image, so only the fields that header.bin keeps
        // as stored can make it no valid ROM; the folder's own read errors pass unchanged.
        if (std::string_view(e.what()).starts_with("rom folder - "))
            throw;
        fail("header.bin", std::string("with it the folder makes no valid DS ROM (") + e.what() + ")");
    }
    check_layout(*rom, image, m);
    identity_visitor visitor;
    rom->copy_to(sink, visitor);
}

} // namespace qm
