// The shared helpers: bounds-checked byte access, the phase timer and the work pool.

#include "common/bytes.h"
#include "common/phase_timer.h"
#include "common/work_pool.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <system_error>
#include <thread>

namespace qm::test {

using namespace std::chrono_literals;

TEST(bytes, endian_readers_and_writers_agree_and_refuse_what_lies_outside)
{
    bytes b(16);
    put_le32(b, 0, 0x11223344);
    put_be32(b, 4, 0x11223344);
    put_le64(b, 8, 0x0102030405060708ull);
    EXPECT_EQ(get_le64(b, 0), 0x4433221111223344ull);
    EXPECT_EQ(get_be64(b, 8), 0x0807060504030201ull);
    // Offsets the compiler cannot see through, so it does not warn about the refused accesses.
    volatile std::size_t thirteen = 13, fifteen = 15, sixteen = 16;
    EXPECT_THROW(get_le32(b, thirteen), bounds_error);
    EXPECT_THROW(get_u8(b, sixteen), bounds_error);
    EXPECT_THROW(put_le16(b, fifteen, 0), bounds_error);
    EXPECT_TRUE(in_bounds(10, 10, 0));
    EXPECT_FALSE(in_bounds(10, 11, 0) || in_bounds(10, 2, SIZE_MAX) || in_bounds(10, SIZE_MAX, 2));
}

// Phases count processor time, so a phase is spent busy.
void spend(job_phase p, std::chrono::milliseconds d)
{
    const timed_phase timing(p);
    for (const auto start = thread_processor_time(); thread_processor_time() - start < d;) {
    }
}

TEST(phase_timer, bound_threads_are_measured_helpers_apart_and_waiting_on_the_wall_clock)
{
    using enum job_phase;
    phase_timer timer;
    {
        const phase_timer_binding job(&timer);
        const timed_job_thread job_total(&timer);
        std::thread([] { spend(writing, 1ms); }).join(); // not bound on a new thread
        std::thread([&] {
            const phase_timer_binding helper(&timer, true);
            spend(cpk_compression, 4ms);
        }).join();
        spend(writing, 3ms);
        const timed_phase waiting(cpk_waiting);
        std::this_thread::sleep_for(100ms); // no processor time, but waiting is on the wall clock
    }
    EXPECT_EQ(phase_timer::of_this_thread().timer, nullptr);
    EXPECT_EQ(timer.times_measured(writing), 1u);
    EXPECT_GE(std::min(timer.total(writing), timer.job_thread_total()), 3ms);
    // Some systems tick the processor clock every 10 ms, so the margin is wide.
    EXPECT_GE(timer.total(cpk_waiting), timer.job_thread_total() + 60ms);
    EXPECT_EQ(timer.helper_total(cpk_waiting).count() + timer.total(cpk_compression).count(), 0);
    EXPECT_GE(timer.helper_total(cpk_compression), 4ms);
}

// Pools of every shape the job may get: none, one, a few and many workers, and one whose system
// refuses its second thread. A batch dropped before its tasks are waited for drops those still
// queued, waits for the one running, and the pool goes on with other batches.
TEST(work_pool, tasks_run_once_errors_come_back_where_waited_for_and_a_dropped_batch_drops_its_queue)
{
    std::deque<work_pool> pools;
    for (unsigned workers : {0u, 1u, 2u, 8u})
        pools.emplace_back(workers);
#ifndef QM_NO_THREADS
    unsigned started = 0;
    pools.emplace_back(4, [&](std::function<void()> loop) {
        return started++ == 1
                   ? throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again))
                   : std::thread(std::move(loop));
    });
    EXPECT_EQ(pools.back().workers(), 1u);
#endif
    std::atomic<int> state{0}, ran{0};
    {
        work_batch batch(pools[1]);
        batch.add([&] {
            state = 1;
            std::this_thread::sleep_for(20ms);
            state = 2;
        });
        batch.add([&] { ++ran; }); // queued behind it
        while (pools[1].workers() > 0 && state == 0)
            std::this_thread::yield();
    }
    EXPECT_EQ(state, pools[1].workers() > 0 ? 2 : 0); // what a task uses may go once its batch has gone
    EXPECT_EQ(ran, 0);
    for (work_pool& pool : pools) {
        std::vector<std::atomic<int>> runs(300);
        work_batch batch(pool);
        for (std::size_t i = 0; i < runs.size(); ++i)
            batch.add([&, i] {
                ++runs[i];
                if (i % 100 == 7)
                    throw std::runtime_error("task " + std::to_string(i));
            });
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_TRUE(pool.workers() > 0 || runs[i] == 0); // without workers a task runs when waited for
            EXPECT_EQ(error_of([&] { batch.wait(i); }), i % 100 == 7 ? "task " + std::to_string(i) : "");
            EXPECT_EQ(runs[i], 1) << pool.workers() << " workers, task " << i;
        }
    }
}

} // namespace qm::test
