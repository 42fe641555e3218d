#include "engine/patcher.h"

#include "common/phase_timer.h"
#include "rom/file_sink.h"
#include "rom/nds_rom.h"

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
// the image, a ROM of empty sections, is dropped. What a front end reports then matches what is on
// disk, whenever the user pressed Cancel.
void patcher::commit_unless_cancelled(rom_sink& sink)
{
    if (commit_hook)
        commit_hook(commit_moment::before);
    std::uint8_t running = 0;
    if (!cancel_flag.compare_exchange_strong(running, decided_to_write, std::memory_order_relaxed)) {
        sink.discard();
        return;
    }
    sink.commit();
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

void patcher::run_patch_job(const source_opener& open_source, rom_sink& sink, byte_span packed,
                            patch_listener& l)
{
    listener = &l;
    const phase_timer_binding timing(phase_times);
    const timed_job_thread job_timing(phase_times);
    l.opening_source();
    nds_rom source_rom(open_source());
    const job_start start(*this, source_rom, packed, l);
    source_rom.copy_to(sink, *this);
    commit_unless_cancelled(sink);
    l.finished();
}

void patcher::run_patch_job(const std::filesystem::path& source, const std::filesystem::path& destination,
                            byte_span packed, patch_listener& l, sink_tap* tap)
{
    file_sink sink(destination, tap);
    run_patch_job([&] { return std::make_unique<file_source>(source); }, sink, packed, l);
}

void patcher::check_patch_job(const std::filesystem::path& source, byte_span packed, patch_listener& l)
{
    null_sink sink;
    run_patch_job([&] { return std::make_unique<file_source>(source); }, sink, packed, l);
}

} // namespace qm
