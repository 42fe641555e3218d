#pragma once
// The patch engine's one object: the unpacked patch archive, the running job's state and the
// cancel flag. As the ROM writer's visitor it patches the ROM section by section.

#include "common/bytes.h"
#include "common/work_pool.h"
#include "engine/cpk_patcher.h"
#include "engine/patch_listener.h"
#include "rom/rom_visitor.h"

#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace qm {

class nds_rom;
class phase_timer;
class rom_sink;
class rom_source;
class sink_tap;

class patcher : public rom_visitor, public cpk_patch_job {
public:
    patcher();

    // Opens `source`, checks the game, unpacks the packed archive and writes the patched ROM.
    // The ROM is written to a temporary file beside `destination` and renamed over it only when
    // the job ends without error and without a cancel request. `tap`, when given, sees the
    // written ROM go by (to fingerprint it).
    void run_patch_job(const std::filesystem::path& source, const std::filesystem::path& destination,
                       byte_span packed, patch_listener& listener, sink_tap* tap = nullptr);

    // The same job into nothing: it refuses exactly what the run refuses, with the same message,
    // in the same order, and writes nothing.
    void check_patch_job(const std::filesystem::path& source, byte_span packed, patch_listener& listener);

    // The job from any source into any sink. `open_source` is called once the listener has been
    // told that the source is being opened. The sink is committed when the job ends without a
    // cancel request, and discarded otherwise.
    using source_opener = std::function<std::unique_ptr<rom_source>()>;
    void run_patch_job(const source_opener& open_source, rom_sink& sink, byte_span packed,
                       patch_listener& listener);

    // Unpacks the packed archive into `blobs` and builds `records` (needs `rom` and `listener`).
    void load_archive(byte_span packed);

    bytes visit(const bytes& contents, std::uint32_t code) override;
    void enter_section(std::uint32_t code) override;
    // A section without a record is passed through unchanged, unless the job is cancelled (then
    // visit gives it empty contents).
    bool passes_through(std::uint32_t code) override;
    // CPK archives are rebuilt ahead: their entries are expanded, patched and compressed by the
    // workers while the sections before them are written.
    ahead wants_ahead(std::uint32_t code, std::uint64_t size) override;
    void begin_ahead(bytes contents, std::uint32_t code) override;
    bytes end_ahead(std::uint32_t code) override;
    void drop_ahead() noexcept override;

    // The number of worker threads for the CPK archives' entries, beside the job's thread, which
    // works on them too (default: one fewer than the hardware threads; 0: the job's thread does
    // all the work). Set before the job.
    void use_workers(unsigned workers);

    // From then on, run_patch_job adds the time of each of its phases to `timer` (null: none).
    void time_phases(phase_timer* timer) noexcept { phase_times = timer; }

    // Asks the job to stop; from any thread, or from a signal handler (a lock-free exchange).
    // Returns false, and changes nothing, once the job has decided its result: a request that
    // comes after the destination was committed cannot undo it.
    bool request_cancel() noexcept
    {
        std::uint8_t state = cancel_flag.load(std::memory_order_relaxed);
        while (state == 0 && !cancel_flag.compare_exchange_weak(state, 1, std::memory_order_relaxed))
            ;
        return state != decided_to_write;
    }
    // Read by the engine between units of work, and by the front ends' progress displays.
    bool cancel_requested() const noexcept override
    {
        return cancel_flag.load(std::memory_order_relaxed) == 1;
    }
    // After run_patch_job has returned: true when it replaced the destination, false when a
    // cancel request stopped it (nothing was written). This, not the request, is what a front
    // end reports.
    bool destination_written() const noexcept
    {
        return cancel_flag.load(std::memory_order_relaxed) == decided_to_write;
    }

    // For tests: called at the moments around the commit of the destination, where a cancel
    // request still decides the result (before) or no longer does (after).
    enum class commit_moment { before, after };
    void watch_commit(std::function<void(commit_moment)> hook) { commit_hook = std::move(hook); }

    void advance_progress() override;

    const std::vector<bytes>& archive_blobs() const noexcept { return blobs; }
    const char_index_map& character_index() const noexcept override { return char_index; }
    std::uint32_t steps_done() const noexcept { return step_counter; }

    // For tests and tools that drive the visitor without a whole job.
    void attach(nds_rom* source_rom, patch_listener* l) noexcept
    {
        rom = source_rom;
        listener = l;
    }

    const bytes& blob(std::uint32_t n) const override;

private:
    class job_start;
    void commit_unless_cancelled(rom_sink& sink);
    work_pool& workers();

    // A CPK archive begun ahead of its turn.
    struct archive_ahead {
        std::uint32_t code;
        std::uint64_t size; // of the source archive, which its rebuild keeps until its turn
        std::unique_ptr<cpk_patcher> rebuild;
    };

    std::vector<bytes> blobs;
    // Section code -> the record from its patch type (word 1) to the end of its room in blob 0.
    std::unordered_map<std::uint32_t, byte_span> records;
    char_index_map char_index;
    nds_rom* rom = nullptr;
    patch_listener* listener = nullptr;
    std::uint32_t step_counter = 0;
    phase_timer* phase_times = nullptr;
    std::function<void(commit_moment)> commit_hook;
    // 0: running; 1: cancel requested; decided_to_write: the job committed its destination, and
    // later requests have no effect. The one place that moves it to the last state is the commit.
    static constexpr std::uint8_t decided_to_write = 2;
    std::atomic<std::uint8_t> cancel_flag{0};
    unsigned worker_count = work_pool::hardware_workers();
    std::unique_ptr<work_pool> pool;
    std::deque<archive_ahead> archives_ahead; // in writing order; they use `pool`, so they come after it
    std::uint64_t bytes_ahead = 0;            // the source bytes of archives_ahead
};

// The game check of every job: the header's title is exactly "QLMOR" and its game code names one of
// the two releases.
bool is_expected_game(const nds_rom& rom);

} // namespace qm
