#include "engine/patcher.h"

#include "common/phase_timer.h"
#include "rom/nds_rom.h"
#include "rom/section_contents.h"

#include <cstring>
#include <stdexcept>

namespace qm {

// The title field read as a NUL-terminated string must be exactly "QLMOR"; the game code is one
// of the two releases, compared as the four bytes in file order. The title is tested first.
bool is_expected_game(const nds_rom& rom)
{
    auto h = rom.header();
    if (std::memcmp(h.data(), "QLMOR", 6) != 0) // five letters and the terminating zero
        return false;
    return std::memcmp(h.data() + 12, "YQLE", 4) == 0 || std::memcmp(h.data() + 12, "YQLP", 4) == 0;
}

// The run's result is decided here and only here, in one atomic step: either no cancel was
// requested and the destination is replaced (a request from now on is refused), or one was and
// the temporary file, a ROM of empty sections, is dropped. What a front end reports then matches
// what is on disk, whenever the user pressed Cancel.
void patcher::commit_unless_cancelled(pending_output& output)
{
    if (commit_hook)
        commit_hook(commit_moment::before);
    std::uint8_t running = 0;
    if (!cancel_flag.compare_exchange_strong(running, decided_to_write, std::memory_order_relaxed)) {
        output.discard();
        return;
    }
    output.commit();
    if (commit_hook)
        commit_hook(commit_moment::after);
}

// The steps every job takes before the rebuild: the game check, then the archive. `rom` points at
// the source only while the job runs.
class patcher::job_start {
public:
    job_start(patcher& p, nds_rom& source, byte_span packed, patch_listener& l) : engine(p)
    {
        if (!is_expected_game(source))
            throw std::runtime_error("Input is not a valid Quillmoor game");
        p.rom = &source;
        l.source_opened();
        l.initialising();
        p.load_archive(packed);
        l.initialised();
    }
    ~job_start() { engine.rom = nullptr; }
    job_start(const job_start&) = delete;
    job_start& operator=(const job_start&) = delete;

private:
    patcher& engine;
};

void patcher::run_patch_job(const std::filesystem::path& source, const std::filesystem::path& destination,
                            byte_span packed, patch_listener& l)
{
    listener = &l;
    const phase_timer_binding timing(phase_times);
    const timed_job_thread job_timing(phase_times);
    l.opening_source();
    nds_rom source_rom(source);
    const job_start start(*this, source_rom, packed, l);
    pending_output output = source_rom.copy_to(destination, *this);
    commit_unless_cancelled(output);
    l.finished();
}

void patcher::check_patch_job(const std::filesystem::path& source, byte_span packed, patch_listener& l)
{
    listener = &l;
    l.opening_source();
    nds_rom source_rom(source);
    const job_start start(*this, source_rom, packed, l);
    for (const rom_section& section : source_rom.list_sections()) {
        enter_section(section.code);
        // What the writer hands to the visitor; the sections it copies and rewrites itself are
        // never patched.
        switch (section_kind_of(section.code)) {
        case section_kind::header:
        case section_kind::fnt:
        case section_kind::fat:
        case section_kind::arm9_ovt:
        case section_kind::arm7_ovt:
            continue;
        case section_kind::arm9_overlay:
        case section_kind::arm7_overlay:
            // A packed overlay is expanded even when nothing changes it.
            if (overlay_is_compressed(overlay_entry_of(source_rom, section))) {
                (void)visit(read_section_contents(source_rom, section), section.code);
                continue;
            }
            [[fallthrough]];
        default:
            if (!passes_through(section.code))
                (void)visit(read_section_contents(source_rom, section), section.code);
        }
    }
    enter_section(make_section_code(section_kind::padding));
    l.finished();
}

} // namespace qm
