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
    threads_.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) {
        try {
            threads_.push_back(start([this] { work_loop(); }));
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
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
#ifndef QM_NO_THREADS
    for (std::thread& t : threads_)
        t.join();
#endif
}

unsigned work_pool::workers() const noexcept
{
#ifndef QM_NO_THREADS
    return static_cast<unsigned>(threads_.size());
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
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_)
            return;
        const queued next = queue_.front();
        queue_.pop_front();
        work_batch& batch = *next.batch;
        batch.run(batch.tasks_[next.task], lock, true);
    }
}

void work_pool::unqueue(const work_batch& batch)
{
    queue_.erase(
        std::remove_if(queue_.begin(), queue_.end(), [&](const queued& q) { return q.batch == &batch; }),
        queue_.end());
}

work_batch::~work_batch()
{
    std::unique_lock<std::mutex> lock(pool_.mutex_);
    pool_.unqueue(*this);
    dropping_ = true;
    done_.wait(lock, [this] { return running_ == 0; });
}

std::size_t work_batch::add(std::function<void()> work)
{
    phase_timer* const timer = phase_timer::of_this_thread().timer;
    std::size_t n;
    {
        const std::lock_guard<std::mutex> lock(pool_.mutex_);
        n = tasks_.size();
        tasks_.push_back({std::move(work), timer, state::queued, nullptr});
        pool_.queue_.push_back({this, n});
    }
    pool_.work_ready_.notify_one();
    return n;
}

void work_batch::wait(std::size_t n, std::size_t until)
{
    std::unique_lock<std::mutex> lock(pool_.mutex_);
    task& t = tasks_.at(n);
    if (pool_.workers() == 0)
        until = n; // nothing runs ahead of the waiting thread
    until = std::clamp(until, n, tasks_.size() - 1);
    while (t.now != state::done) {
        // Rather than sleep, this thread does a task of the stretch that no worker has started:
        // the oldest of them, so task n itself when nobody has it. (Only tasks from n on: the
        // owner goes through them in order.)
        const auto it =
            std::find_if(pool_.queue_.begin(), pool_.queue_.end(), [&](const work_pool::queued& q) {
                return q.batch == this && q.task >= n && q.task <= until;
            });
        if (it != pool_.queue_.end()) {
            task& mine = tasks_[it->task];
            pool_.queue_.erase(it);
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
    awaited_ = n;
    done_.wait(lock, [&] { return tasks_[n].now == state::done; });
    awaited_ = nobody;
}

void work_batch::run(task& t, std::unique_lock<std::mutex>& lock, bool on_worker)
{
    t.now = state::running;
    ++running_;
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
    --running_;
    const bool awaited = awaited_ != nobody && &tasks_[awaited_] == &t;
    if (awaited || (dropping_ && running_ == 0))
        done_.notify_one();
}

} // namespace qm
