// The shared helpers: bounds-checked byte access, the phase timer and the work pool.

#include "common/bytes.h"
#include "common/phase_timer.h"
#include "common/work_pool.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>

namespace qm {
namespace {

using namespace std::chrono_literals;

TEST(bytes, endian_readers_and_writers_agree_and_refuse_what_lies_outside)
{
    bytes b(16);
    put_le32(b, 0, 0x11223344);
    put_be32(b, 4, 0x11223344);
    put_le64(b, 8, 0x0102030405060708ull);
    EXPECT_EQ(get_le64(b, 0), 0x4433221111223344ull);
    EXPECT_EQ(get_be64(b, 8), 0x0807060504030201ull);
    EXPECT_EQ(get_le16(b, 0) + get_be16(b, 4), 0x3344u + 0x1122u);
    // Offsets the compiler cannot see through, so it does not warn about the refused accesses.
    constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
    volatile std::size_t thirteen = 13, fifteen = 15, sixteen = 16, huge = max - 1;
    EXPECT_THROW(get_le32(b, thirteen), bounds_error);
    EXPECT_THROW(get_u8(b, sixteen), bounds_error);
    EXPECT_THROW(put_le16(b, fifteen, 0), bounds_error);
    EXPECT_THROW(get_le32(b, huge), bounds_error);
    EXPECT_NO_THROW(get_le32(b, 12));
    EXPECT_TRUE(in_bounds(10, 10, 0));
    EXPECT_FALSE(in_bounds(10, 11, 0) || in_bounds(10, 2, max) || in_bounds(10, max, 2));
}

// Phases count processor time, so a phase is spent busy.
void spend(job_phase p, std::chrono::milliseconds d)
{
    const timed_phase timing(p);
    const auto start = thread_processor_time();
    while (thread_processor_time() - start < d) {
    }
}

TEST(phase_timer, bound_threads_are_measured_helpers_apart_and_waiting_on_the_wall_clock)
{
    phase_timer timer;
    spend(job_phase::writing, 1ms); // no timer bound yet
    {
        const phase_timer_binding job(&timer);
        const timed_job_thread job_total(&timer);
        std::thread([] { spend(job_phase::writing, 1ms); }).join(); // nor on a new thread
        std::thread([&] {
            const phase_timer_binding helper(&timer, true);
            spend(job_phase::cpk_compression, 4ms);
        }).join();
        spend(job_phase::writing, 3ms);
        const timed_phase waiting(job_phase::cpk_waiting);
        std::this_thread::sleep_for(100ms); // no processor time, but waiting is on the wall clock
    }
    EXPECT_EQ(phase_timer::of_this_thread().timer, nullptr);
    EXPECT_EQ(timer.times_measured(job_phase::writing), 1u);
    EXPECT_GE(timer.total(job_phase::writing), 3ms);
    EXPECT_GE(timer.job_thread_total(), 3ms);
    // Some systems tick the processor clock every 10 ms, so the margin is wide.
    EXPECT_GE(timer.total(job_phase::cpk_waiting), timer.job_thread_total() + 60ms);
    EXPECT_EQ(timer.helper_total(job_phase::cpk_waiting).count() +
                  timer.total(job_phase::cpk_compression).count(),
              0);
    EXPECT_GE(timer.helper_total(job_phase::cpk_compression), 4ms);
}

TEST(work_pool, every_task_runs_once_and_its_error_comes_back_where_it_is_waited_for)
{
    // Pools of every shape the job may get: none, one, a few and many workers, and one whose
    // system refuses its second thread.
    std::vector<std::unique_ptr<work_pool>> pools;
    for (unsigned workers : {0u, 1u, 2u, 8u})
        pools.push_back(std::make_unique<work_pool>(workers));
#ifndef QM_NO_THREADS
    unsigned started = 0;
    pools.push_back(std::make_unique<work_pool>(4, [&](std::function<void()> loop) {
        if (started++ == 1)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(std::move(loop));
    }));
    EXPECT_EQ(pools.back()->workers(), 1u);
#endif
    for (const auto& pool : pools) {
        const bool serial = pool->workers() == 0; // a task runs only when waited for
        std::vector<std::atomic<int>> runs(300);
        work_batch batch(*pool);
        for (std::size_t i = 0; i < runs.size(); ++i)
            batch.add([&, i] {
                ++runs[i];
                if (i % 100 == 7)
                    throw std::runtime_error("task " + std::to_string(i));
            });
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_TRUE(!serial || runs[i] == 0);
            EXPECT_EQ(test::error_of([&] { batch.wait(i); }),
                      i % 100 == 7 ? "task " + std::to_string(i) : "");
            EXPECT_EQ(runs[i], 1) << pool->workers() << " workers, task " << i;
        }
    }
}

TEST(work_pool, a_dropped_batch_drops_its_queued_tasks_and_waits_for_the_running_one)
{
    work_pool pool(1);
    std::atomic<int> state{0}, ran{0};
    {
        work_batch batch(pool);
        batch.add([&] {
            state = 1;
            std::this_thread::sleep_for(20ms);
            state = 2;
        });
        for (int i = 0; i < 10; ++i)
            batch.add([&] { ++ran; });
        while (pool.workers() > 0 && state == 0)
            std::this_thread::yield();
    }
    EXPECT_EQ(state, pool.workers() > 0 ? 2 : 0); // what a task uses may go once its batch has gone
    EXPECT_EQ(ran, 0);
    work_batch next(pool); // the pool goes on with other batches
    next.add([&] { ++ran; });
    next.wait(0);
    EXPECT_EQ(ran, 1);
}

} // namespace
} // namespace qm
