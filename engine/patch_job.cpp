#include "engine/patcher.h"

#include "common/phase_timer.h"
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

void patcher::run_patch_job(const std::filesystem::path& source, const std::filesystem::path& destination,
                            const std::uint8_t* packed, std::uint32_t packed_size, patch_listener& l)
{
    listener = &l;
    const phase_timer_binding timing(phase_times);
    const timed_job_thread job_timing(phase_times);
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
    commit_unless_cancelled(output);
    l.finished();
}

} // namespace qm
