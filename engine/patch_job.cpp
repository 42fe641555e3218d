#include "engine/patcher.h"

#include "rom/nds_rom.h"

#include <cstring>
#include <stdexcept>

namespace qm {

namespace {

// The title field read as a NUL-terminated string must be exactly "QLMOR"; the game code is one
// of the two releases, compared as the four bytes in file order. The title is tested first.
bool is_expected_game(const nds_rom& rom)
{
    auto h = rom.header();
    if (std::memcmp(h.data(), "QLMOR", 6) != 0) // five letters and the terminating zero
        return false;
    return std::memcmp(h.data() + 12, "YQLE", 4) == 0 || std::memcmp(h.data() + 12, "YQLP", 4) == 0;
}

} // namespace

void patcher::run_patch_job(const std::filesystem::path& source, const std::filesystem::path& destination,
                            const std::uint8_t* packed, std::uint32_t packed_size, patch_listener& l)
{
    listener = &l;
    l.opening_source();
    nds_rom source_rom(source);
    if (!is_expected_game(source_rom))
        throw std::runtime_error("Input is not a valid Quillmoor game");

    // `rom` points at the local ROM only while the job runs.
    struct rom_reset {
        nds_rom*& r;
        ~rom_reset() { r = nullptr; }
    } reset{rom};
    rom = &source_rom;

    l.source_opened();
    l.initialising();
    load_archive(packed, packed_size);
    l.initialised();
    pending_output output = source_rom.copy_to(destination, *this);
    // A cancelled job has written a ROM of empty sections: it must not replace anything.
    if (!cancel_requested())
        output.commit();
    l.finished();
}

} // namespace qm
