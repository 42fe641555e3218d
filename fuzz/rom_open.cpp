// A ROM image from anywhere: opening and validation, the section list, the path lookups and an
// identity rebuild. A rebuilt ROM must open again (unless it is too short for the banner block
// that a banner offset of 0 still asks for) and hold the same binaries, FNT and files.

#include "fuzz_support.h"
#include "rom/fnt.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"

#include <memory>
#include <stdexcept>

using namespace qm;

namespace {

class identity_visitor : public rom_visitor {
public:
    bytes visit(const bytes& contents, std::uint32_t) override { return contents; }
    void enter_section(std::uint32_t) override {}
};

void compare_rebuilt(nds_rom& source, const std::filesystem::path& rebuilt_path)
{
    std::unique_ptr<nds_rom> rebuilt;
    if (!fuzz::attempt([&] { rebuilt = std::make_unique<nds_rom>(rebuilt_path); })) {
        const bool banner_at_zero = get_le32(source.header(), nds::hdr_banner_offset) == 0;
        fuzz::expect(banner_at_zero && std::filesystem::file_size(rebuilt_path) < nds::banner_length,
                     "rebuilt ROM does not open");
        return;
    }
    fuzz::expect(rebuilt->read_arm9(false) == source.read_arm9(false), "ARM9 binary differs");
    fuzz::expect(rebuilt->read_arm7() == source.read_arm7(), "ARM7 binary differs");
    fuzz::expect(rebuilt->fnt_bytes() == source.fnt_bytes(), "FNT differs");
    fuzz::expect(rebuilt->fat_bytes().size() == source.fat_bytes().size(), "FAT size differs");

    // Overlay files are packed again (their stored bytes may change); every other file is copied.
    std::vector<bool> overlay_file(source.fat_bytes().size() / nds::fat_entry_length, false);
    for (const bytes* table : {&source.arm9_ovt_bytes(), &source.arm7_ovt_bytes()})
        for (std::size_t e = 0; e < table->size(); e += nds::ovt_entry_length)
            overlay_file[get_le32(*table, e + nds::ovt_file_id)] = true;
    for (std::uint32_t id = 0; id < overlay_file.size(); ++id)
        if (!overlay_file[id])
            fuzz::expect(rebuilt->read_file(id) == source.read_file(id), "file contents differ");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::memory_file input(byte_span(data, size));
    std::unique_ptr<nds_rom> rom;
    if (!fuzz::attempt([&] { rom = std::make_unique<nds_rom>(input.path()); }))
        return 0; // not a ROM: refusing it is all that is asked

    for (const rom_section& s : rom->list_sections())
        fuzz::expect(in_bounds(rom->size(), s.offset, s.size), "section outside the file");

    // Every file that the FNT names has a path; the way back may fail (names holding "/",
    // duplicate names, links back to the root), but only with a message.
    const auto files = fnt_list_files(rom->fnt_bytes());
    for (std::size_t i = 0; i < files.size() && i < fuzz::max_lookups; ++i) {
        const std::uint16_t id = files[i].first;
        const std::string path = "/" + files[i].second;
        fuzz::expect(fuzz::attempt([&] { (void)rom->fid_to_string(id); }), "listed file has no path");
        fuzz::attempt([&] { (void)rom->get_file_id(path); });
    }

    const std::filesystem::path destination = fuzz::scratch_dir() / "rebuilt.nds";
    fuzz::attempt([&] {
        identity_visitor visitor;
        pending_output out = rom->copy_to(destination, visitor);
        out.commit();
        compare_rebuilt(*rom, destination);
    });
    fuzz::clear_scratch_dir();
    return 0;
}
