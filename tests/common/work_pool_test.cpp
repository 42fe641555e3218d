#include "common/work_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace qm {
namespace {

// Pools of every shape the job may get: none, one, a few and many workers, and one whose system
// refuses its second thread.
std::vector<std::unique_ptr<work_pool>> every_kind_of_pool()
{
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
    return pools;
}

TEST(work_pool, every_task_runs_once_and_its_error_comes_back_where_it_is_waited_for)
{
    for (const auto& pool : every_kind_of_pool()) {
        SCOPED_TRACE(std::to_string(pool->workers()) + " workers");
        std::vector<std::atomic<int>> runs(300);
        std::vector<std::thread::id> ran_on(runs.size());
        work_batch batch(*pool);
        for (std::size_t i = 0; i < runs.size(); ++i)
            batch.add([&, i] {
                ++runs[i];
                ran_on[i] = std::this_thread::get_id();
                if (i % 100 == 7)
                    throw std::runtime_error("task " + std::to_string(i));
            });
        for (std::size_t i = 0; i < runs.size(); ++i) {
            // Without workers a task runs only when it is waited for, on the waiting thread.
            if (pool->workers() == 0) {
                EXPECT_EQ(runs[i], 0);
            }
            std::string error;
            try {
                batch.wait(i);
            } catch (const std::runtime_error& e) {
                error = e.what();
            }
            EXPECT_EQ(error, i % 100 == 7 ? "task " + std::to_string(i) : "");
            EXPECT_EQ(runs[i], 1);
            if (pool->workers() == 0) {
                EXPECT_EQ(ran_on[i], std::this_thread::get_id());
            }
        }
    }
}

TEST(work_pool, a_dropped_batch_drops_its_queued_tasks_and_waits_for_the_running_one)
{
    work_pool pool(1);
    if (pool.workers() == 0)
        GTEST_SKIP() << "a build without threads";
    std::atomic<bool> started{false}, finished{false};
    std::atomic<int> others{0};
    {
        work_batch batch(pool);
        batch.add([&] {
            started = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            finished = true;
        });
        for (int i = 0; i < 10; ++i)
            batch.add([&] { ++others; });
        while (!started)
            std::this_thread::yield();
    }
    EXPECT_TRUE(finished); // what a task uses may go as soon as its batch has gone
    EXPECT_EQ(others, 0);
    work_batch next(pool); // the pool goes on with other batches
    std::atomic<int> ran{0};
    next.add([&] { ++ran; });
    next.wait(0);
    EXPECT_EQ(ran, 1);
}

} // namespace
} // namespace qm
