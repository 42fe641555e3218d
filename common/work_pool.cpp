#include "common/work_pool.h"

#include "common/phase_timer.h"

#include <algorithm>
#include <system_error>

namespace qm {

#ifndef QM_NO_THREADS
work_pool::work_pool(unsigned workers)
    : work_pool(workers, [](std::function<void()> loop) { return std::thread(std::move(loop)); })
{
}

work_pool::work_pool(unsigned workers, const thread_starter& start)
{
    threads.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) {
        try {
            threads.push_back(start([this] { work_loop(); }));
        } catch (const std::system_error&) {
            break; // fewer workers, or none: waiting threads do the rest of the work
        }
    }
}
#else
work_pool::work_pool(unsigned) {}
#endif

work_pool::~work_pool()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    work_ready.notify_all();
#ifndef QM_NO_THREADS
    for (std::thread& t : threads)
        t.join();
#endif
}

unsigned work_pool::workers() const noexcept
{
#ifndef QM_NO_THREADS
    return static_cast<unsigned>(threads.size());
#else
    return 0;
#endif
}

unsigned work_pool::hardware_workers() noexcept
{
#ifndef QM_NO_THREADS
    // The thread that waits for the tasks does them too while it waits: one worker fewer than
    // there are hardware threads keeps every one busy without two threads taking turns on one.
    constexpr unsigned max_workers = 15;
    const unsigned threads = std::thread::hardware_concurrency();
    return threads > 1 ? std::min(threads - 1, max_workers) : 0;
#else
    return 0;
#endif
}

void work_pool::work_loop()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        work_ready.wait(lock, [this] { return stopping || !queue.empty(); });
        if (stopping)
            return;
        const queued next = queue.front();
        queue.pop_front();
        work_batch& batch = *next.batch;
        batch.run(batch.tasks[next.task], lock, true);
    }
}

void work_pool::unqueue(const work_batch& batch)
{
    queue.erase(
        std::remove_if(queue.begin(), queue.end(), [&](const queued& q) { return q.batch == &batch; }),
        queue.end());
}

work_batch::~work_batch()
{
    std::unique_lock<std::mutex> lock(pool.mutex);
    pool.unqueue(*this);
    dropping = true;
    done.wait(lock, [this] { return running == 0; });
}

std::size_t work_batch::add(std::function<void()> work)
{
    phase_timer* const timer = phase_timer::of_this_thread().timer;
    std::size_t n;
    {
        const std::lock_guard<std::mutex> lock(pool.mutex);
        n = tasks.size();
        tasks.push_back({std::move(work), timer, state::queued, nullptr});
        pool.queue.push_back({this, n});
    }
    pool.work_ready.notify_one();
    return n;
}

void work_batch::wait(std::size_t n, std::size_t until)
{
    std::unique_lock<std::mutex> lock(pool.mutex);
    task& t = tasks.at(n);
    if (pool.workers() == 0)
        until = n; // nothing runs ahead of the waiting thread
    until = std::clamp(until, n, tasks.size() - 1);
    while (t.now != state::done) {
        // Rather than sleep, this thread does a task of the stretch that no worker has started:
        // the oldest of them, so task n itself when nobody has it. (Only tasks from n on: the
        // owner goes through them in order.)
        const auto it = std::find_if(pool.queue.begin(), pool.queue.end(), [&](const work_pool::queued& q) {
            return q.batch == this && q.task >= n && q.task <= until;
        });
        if (it != pool.queue.end()) {
            task& mine = tasks[it->task];
            pool.queue.erase(it);
            run(mine, lock, false);
            continue;
        }
        const timed_phase timing(job_phase::cpk_waiting);
        sleep_until_done(n, lock);
    }
    if (t.error)
        std::rethrow_exception(t.error);
}

void work_batch::sleep_until_done(std::size_t n, std::unique_lock<std::mutex>& lock)
{
    awaited = n;
    done.wait(lock, [&] { return tasks[n].now == state::done; });
    awaited = nobody;
}

void work_batch::run(task& t, std::unique_lock<std::mutex>& lock, bool on_worker)
{
    t.now = state::running;
    ++running;
    std::function<void()> work = std::move(t.work);
    lock.unlock();
    try {
        if (on_worker) {
            // A worker reports its time to the timer of the thread that queued the task, apart
            // from that thread's own.
            const phase_timer_binding timing(t.timer, true);
            work();
        } else {
            work();
        }
    } catch (...) {
        t.error = std::current_exception();
    }
    work = nullptr; // what the task holds goes now, not with the batch
    lock.lock();
    t.now = state::done;
    --running;
    const bool owner_waits = awaited != nobody && &tasks[awaited] == &t;
    if (owner_waits || (dropping && running == 0))
        done.notify_one();
}

} // namespace qm
