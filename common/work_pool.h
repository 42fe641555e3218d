#pragma once
// Worker threads that run queued tasks, oldest first, for work that can be split into independent
// pieces (the entries of CPK archives). Tasks are grouped in batches; whoever owns a batch waits
// for its tasks one by one, working on them meanwhile, and takes their results in its own order.
//
// A pool without workers (one hardware thread, a build with QM_NO_THREADS defined, or a system
// that refuses to start a thread) runs each task on the thread that waits for it, when it waits: the same
// work in the same order, serially.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>
#ifndef QM_NO_THREADS
#include <thread>
#endif

namespace qm {

class phase_timer;
class work_batch;

class work_pool {
public:
    // Starts `workers` threads, or as many as the system allows.
    explicit work_pool(unsigned workers);
#ifndef QM_NO_THREADS
    // The same, each worker started by `start` (which may throw std::system_error, as the system
    // does when it refuses a thread).
    using thread_starter = std::function<std::thread(std::function<void()>)>;
    work_pool(unsigned workers, const thread_starter& start);
#endif
    // Stops the workers. Every batch must be gone by then.
    ~work_pool();
    work_pool(const work_pool&) = delete;
    work_pool& operator=(const work_pool&) = delete;

    unsigned workers() const noexcept;

    // Workers for this machine: one fewer than it has hardware threads (the thread that waits
    // for the tasks works on them meanwhile), none when it has only one, at most 15.
    static unsigned hardware_workers() noexcept;

private:
    friend class work_batch;

    struct queued {
        work_batch* batch;
        std::size_t task;
    };

    void work_loop();
    // Removes a batch's queued tasks (lock held).
    void unqueue(const work_batch& batch);

    std::mutex mutex;
    std::condition_variable work_ready;
    std::deque<queued> queue;
    bool stopping = false;
#ifndef QM_NO_THREADS
    std::vector<std::thread> threads;
#endif
};

class work_batch {
public:
    explicit work_batch(work_pool& pool) noexcept : pool(pool) {}
    // Drops the tasks no worker has started and waits for those running, so that a task may use
    // anything that outlives its batch.
    ~work_batch();
    work_batch(const work_batch&) = delete;
    work_batch& operator=(const work_batch&) = delete;

    // Queues a task behind every task queued so far on the pool; returns its number in the batch
    // (0, 1, 2, ...). A worker runs it with the phase timer of the thread that queued it.
    std::size_t add(std::function<void()> task);
    // Returns once task `n` has run, then rethrows what it threw, if anything. Until then this
    // thread runs the tasks from n to `until` (n or a later one) that no worker has started,
    // oldest first, and sleeps only when workers have them all: one going through the tasks in
    // order works beside the workers instead of taking turns with them. Without workers it runs
    // task n alone.
    void wait(std::size_t n, std::size_t until);
    void wait(std::size_t n) { wait(n, n); }

    std::size_t size() const noexcept { return tasks.size(); }

private:
    friend class work_pool;

    enum class state { queued, running, done };
    struct task {
        std::function<void()> work;
        phase_timer* timer = nullptr;
        state now = state::queued;
        std::exception_ptr error;
    };

    // Runs a task that this thread has claimed, then marks it done (lock held on entry and on
    // return).
    void run(task& t, std::unique_lock<std::mutex>& lock, bool on_worker);

    // Sleeps until task `n` has run (lock held).
    void sleep_until_done(std::size_t n, std::unique_lock<std::mutex>& lock);

    static constexpr std::size_t nobody = ~std::size_t{0};

    work_pool& pool;
    std::deque<task> tasks; // a deque: tasks keep their place while more are added
    std::size_t running = 0;
    // The owner sleeps on `done` for the task `awaited`, or (when dropping the batch) for the
    // running tasks to end; workers wake it for that alone.
    std::condition_variable done;
    std::size_t awaited = nobody;
    bool dropping = false;
};

} // namespace qm
