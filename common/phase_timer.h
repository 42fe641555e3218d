#pragma once
// Where a patch run spends its time: the job's phases, each summed over the run, apart for the
// job's own thread and for the worker threads that help it. Nothing is measured unless a front end
// asks for it by binding a timer to the job's thread; the code of the phases only marks where they
// begin and end.
//
// Phases are measured in processor time of the thread that runs them, so that the figures add up
// to the work done whatever else the machine runs, and a worker that waits for a core counts
// nothing meanwhile. Waiting, which takes no processor time, is measured on the wall clock.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace qm {

enum class job_phase : std::uint8_t {
    archive_unpacking, // the packed patch archive: LZMA and the split into blobs
    reading,           // reads of the source ROM
    cpk_decoding,      // expansion of compressed CPK entries
    cpk_patching,      // checksums and patches of CPK entries
    cpk_compression,   // compression of the rebuilt archives' entries
    cpk_waiting,       // the job's thread waiting for entries that workers are still on (wall clock)
    lz_packing,        // packing overlays back into backward LZ form
    writing,           // writes of the destination, up to its close
    fingerprinting,    // CRC-32 and SHA-1 of the written ROM, the proof of the result
};
constexpr std::size_t job_phase_count = 9;

constexpr const char* job_phase_name(job_phase p) noexcept
{
    constexpr const char* names[job_phase_count] = {
        "archive unpacking",   "reading",    "CPK decoding", "CPK patching",   "CPK re-compression",
        "waiting for workers", "LZ packing", "writing",      "fingerprinting",
    };
    return names[static_cast<std::size_t>(p)];
}

// Processor time of the calling thread, where the system keeps it per thread (POSIX systems and
// MinGW's threads); elsewhere the wall clock stands in for it.
inline std::chrono::nanoseconds thread_processor_time() noexcept
{
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec ts{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) == 0)
        return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
#endif
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

class phase_timer {
public:
    using duration = std::chrono::nanoseconds;

    // Time spent on the job's own thread, or on threads that help it.
    void add(job_phase p, duration d, bool helper = false) noexcept
    {
        const auto i = static_cast<std::size_t>(p);
        (helper ? helper_totals : totals)[i].fetch_add(d.count(), std::memory_order_relaxed);
        spans[i].fetch_add(1, std::memory_order_relaxed);
    }
    duration total(job_phase p) const noexcept { return read(totals, p); }
    duration helper_total(job_phase p) const noexcept { return read(helper_totals, p); }
    // How many times a phase was measured, on any thread: a short phase may take less time than
    // the processor clock can tell apart from none.
    std::size_t times_measured(job_phase p) const noexcept
    {
        return static_cast<std::size_t>(spans[static_cast<std::size_t>(p)].load(std::memory_order_relaxed));
    }

    // Processor time of the job's thread over the whole job, phases or not.
    void add_job_thread(duration d) noexcept { job_thread.fetch_add(d.count(), std::memory_order_relaxed); }
    duration job_thread_total() const noexcept
    {
        return duration(job_thread.load(std::memory_order_relaxed));
    }

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
    using sums = std::array<std::atomic<duration::rep>, job_phase_count>;
    static duration read(const sums& s, job_phase p) noexcept
    {
        return duration(s[static_cast<std::size_t>(p)].load(std::memory_order_relaxed));
    }

    sums totals{};
    sums helper_totals{};
    sums spans{};
    std::atomic<duration::rep> job_thread{0};
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

// Adds the processor time of the calling thread, from its construction to its end, to a timer's
// job-thread total (nothing when the timer is null).
class timed_job_thread {
public:
    explicit timed_job_thread(phase_timer* timer) noexcept : timer(timer)
    {
        if (timer)
            start = thread_processor_time();
    }
    ~timed_job_thread()
    {
        if (timer)
            timer->add_job_thread(thread_processor_time() - start);
    }
    timed_job_thread(const timed_job_thread&) = delete;
    timed_job_thread& operator=(const timed_job_thread&) = delete;

private:
    phase_timer* timer;
    std::chrono::nanoseconds start{};
};

// Adds the time from its construction to its end to a phase, when the thread has a timer.
class timed_phase {
public:
    explicit timed_phase(job_phase p) noexcept : bound(phase_timer::of_this_thread()), phase(p)
    {
        if (bound.timer)
            start = now();
    }
    ~timed_phase()
    {
        if (bound.timer)
            bound.timer->add(phase, now() - start, bound.helper);
    }
    timed_phase(const timed_phase&) = delete;
    timed_phase& operator=(const timed_phase&) = delete;

private:
    std::chrono::nanoseconds now() const noexcept
    {
        if (phase == job_phase::cpk_waiting)
            return std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch());
        return thread_processor_time();
    }

    phase_timer::binding_state bound;
    job_phase phase;
    std::chrono::nanoseconds start{};
};

} // namespace qm
