#include "common/phase_timer.h"

#include <gtest/gtest.h>

#include <thread>

namespace qm {
namespace {

using namespace std::chrono_literals;

// Phases count processor time: a phase is spent busy (and waiting, counted on the wall clock,
// would count a sleep as well).
void spend(job_phase p, std::chrono::milliseconds d)
{
    const timed_phase timing(p);
    const auto start = thread_processor_time();
    while (thread_processor_time() - start < d) {
    }
}

TEST(phase_timer, nothing_is_measured_on_a_thread_without_a_timer)
{
    phase_timer timer;
    spend(job_phase::reading, 2ms);
    std::thread([&] { spend(job_phase::reading, 2ms); }).join();
    EXPECT_EQ(phase_timer::of_this_thread().timer, nullptr);
    EXPECT_EQ(timer.times_measured(job_phase::reading), 0u);
}

TEST(phase_timer, a_binding_measures_its_thread_and_restores_the_one_before)
{
    phase_timer outer, inner;
    {
        const phase_timer_binding a(&outer);
        spend(job_phase::writing, 3ms);
        {
            const phase_timer_binding b(&inner);
            spend(job_phase::writing, 3ms);
            spend(job_phase::cpk_decoding, 1ms);
        }
        EXPECT_EQ(phase_timer::of_this_thread().timer, &outer);
        spend(job_phase::writing, 3ms);
    }
    EXPECT_EQ(phase_timer::of_this_thread().timer, nullptr);
    EXPECT_GE(outer.total(job_phase::writing), 6ms);
    EXPECT_GE(inner.total(job_phase::writing), 3ms);
    EXPECT_GE(inner.total(job_phase::cpk_decoding), 1ms);
    EXPECT_EQ(outer.total(job_phase::cpk_decoding).count(), 0); // the inner timer's phase only
}

TEST(phase_timer, helper_threads_are_summed_apart_from_the_job_thread)
{
    phase_timer timer;
    const phase_timer_binding job(&timer);
    {
        const timed_job_thread job_total(&timer);
        spend(job_phase::cpk_waiting, 2ms);
        {
            const timed_phase waiting(job_phase::cpk_waiting);
            std::this_thread::sleep_for(100ms); // no processor time, but waiting is on the wall clock
        }
    }
    std::thread helpers[2];
    for (std::thread& h : helpers)
        h = std::thread([&] {
            const phase_timer_binding helper(&timer, true);
            spend(job_phase::cpk_compression, 4ms);
        });
    for (std::thread& h : helpers)
        h.join();
    EXPECT_GE(timer.job_thread_total(), 2ms);
    // The sleep took no processor time. Some systems tick the processor clock every 10 ms, so the
    // margin is wide.
    EXPECT_GE(timer.total(job_phase::cpk_waiting), timer.job_thread_total() + 60ms);
    EXPECT_EQ(timer.helper_total(job_phase::cpk_waiting).count(), 0);
    EXPECT_GE(timer.helper_total(job_phase::cpk_compression), 8ms); // both helpers
    EXPECT_EQ(timer.total(job_phase::cpk_compression).count(), 0);
}

} // namespace
} // namespace qm
