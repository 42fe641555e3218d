#pragma once
// Where a patch run spends its time: the job's phases, each summed over the run. Nothing is
// measured unless a front end asks for it by binding a timer to the job's thread; the code of the
// phases only marks where they begin and end.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qm {

enum class job_phase : std::uint8_t {
    archive_unpacking, // the packed patch archive: LZMA and the split into blobs
    reading,           // reads of the source ROM
    cpk_decoding,      // expansion of compressed CPK entries
    cpk_compression,   // compression of the rebuilt archives' entries
    cpk_waiting,       // the job's thread waiting for entries that helper threads compress
    lz_packing,        // packing overlays back into backward LZ form
    writing,           // writes of the destination, up to its close
};
constexpr std::size_t job_phase_count = 7;

constexpr const char* job_phase_name(job_phase p) noexcept
{
    constexpr const char* names[job_phase_count] = {
        "archive unpacking", "reading", "CPK decoding", "CPK re-compression", "waiting for compression",
        "LZ packing", "writing",
    };
    return names[static_cast<std::size_t>(p)];
}

class phase_timer {
public:
    using clock = std::chrono::steady_clock;

    // Time spent on the job's own thread, or on threads that help it (compressing entries).
    void add(job_phase p, clock::duration d, bool helper = false) noexcept
    {
        (helper ? helper_totals : totals)[static_cast<std::size_t>(p)].fetch_add(d.count(), std::memory_order_relaxed);
    }
    clock::duration total(job_phase p) const noexcept { return read(totals, p); }
    clock::duration helper_total(job_phase p) const noexcept { return read(helper_totals, p); }

    struct binding_state {
        phase_timer* timer = nullptr;
        bool helper = false;
    };
    // The timer that the calling thread reports to (none by default).
    static binding_state& of_this_thread() noexcept
    {
        thread_local binding_state bound;
        return bound;
    }

private:
    using sums = std::array<std::atomic<clock::rep>, job_phase_count>;
    static clock::duration read(const sums& s, job_phase p) noexcept
    {
        return clock::duration(s[static_cast<std::size_t>(p)].load(std::memory_order_relaxed));
    }

    sums totals{};
    sums helper_totals{};
};

// Binds a timer (or null) to the calling thread for its lifetime, restoring the previous one.
class phase_timer_binding {
public:
    explicit phase_timer_binding(phase_timer* timer, bool helper = false) noexcept
        : previous(phase_timer::of_this_thread())
    {
        phase_timer::of_this_thread() = {timer, helper};
    }
    ~phase_timer_binding() { phase_timer::of_this_thread() = previous; }
    phase_timer_binding(const phase_timer_binding&) = delete;
    phase_timer_binding& operator=(const phase_timer_binding&) = delete;

private:
    phase_timer::binding_state previous;
};

// Adds the time from its construction to its end to a phase, when the thread has a timer.
class timed_phase {
public:
    explicit timed_phase(job_phase p) noexcept : bound(phase_timer::of_this_thread()), phase(p)
    {
        if (bound.timer)
            start = phase_timer::clock::now();
    }
    ~timed_phase()
    {
        if (bound.timer)
            bound.timer->add(phase, phase_timer::clock::now() - start, bound.helper);
    }
    timed_phase(const timed_phase&) = delete;
    timed_phase& operator=(const timed_phase&) = delete;

private:
    phase_timer::binding_state bound;
    job_phase phase;
    phase_timer::clock::time_point start{};
};

} // namespace qm
