#include "cpk/cpk_store_queue.h"

#include "common/phase_timer.h"

#include <algorithm>
#include <system_error>

namespace qm {

namespace {

// Work in flight is bounded, so that memory stays about what one archive's largest entries need.
constexpr std::uint64_t max_pending_bytes = 16u << 20;
constexpr unsigned max_helpers = 7;

} // namespace

unsigned cpk_store_queue::default_helpers()
{
    const unsigned threads = std::thread::hardware_concurrency();
    return std::min(threads > 1 ? threads - 1 : 0u, max_helpers);
}

cpk_store_queue::cpk_store_queue(cpk_builder& builder, unsigned helpers) : builder_(builder)
{
    // Helpers report their compression time to the caller's timer, apart from the caller's own.
    phase_timer* const timer = phase_timer::of_this_thread().timer;
    helpers_.reserve(helpers);
    for (unsigned i = 0; i < helpers; ++i) {
        try {
            helpers_.emplace_back([this, timer] {
                const phase_timer_binding timing(timer, true);
                help_loop();
            });
        } catch (const std::system_error&) {
            break; // fewer helpers (or none): the caller does the rest of the work
        }
    }
}

cpk_store_queue::~cpk_store_queue()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
    for (std::thread& t : helpers_)
        t.join();
}

void cpk_store_queue::add_file(bytes data)
{
    std::unique_lock<std::mutex> lock(mutex_);
    builder_.check_room(slots_.size() + 1);
    pending_bytes_ += data.size();
    slots_.push_back(std::make_unique<slot>());
    slots_.back()->input_size = data.size();
    slots_.back()->input = std::move(data);
    work_ready_.notify_one();

    const std::size_t max_files = 2 * (helpers_.size() + 1) + 4;
    hand_over(lock);
    while (slots_.size() > max_files || (slots_.size() > 1 && pending_bytes_ > max_pending_bytes)) {
        work_or_wait(lock);
        hand_over(lock);
    }
}

void cpk_store_queue::finish()
{
    std::unique_lock<std::mutex> lock(mutex_);
    hand_over(lock);
    while (!slots_.empty()) {
        work_or_wait(lock);
        hand_over(lock);
    }
}

void cpk_store_queue::help_loop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        slot* s = nullptr;
        work_ready_.wait(lock, [&] { return stopping_ || (s = claim()) != nullptr; });
        if (stopping_)
            return; // a claimed slot is dropped with the queue
        lock.unlock();
        prepare(*s);
        lock.lock();
        s->now = slot::state::done;
        slot_done_.notify_all();
    }
}

cpk_store_queue::slot* cpk_store_queue::claim()
{
    for (const std::unique_ptr<slot>& s : slots_)
        if (s->now == slot::state::queued) {
            s->now = slot::state::working;
            return s.get();
        }
    return nullptr;
}

void cpk_store_queue::prepare(slot& s)
{
    try {
        s.output = cpk_store(std::move(s.input));
    } catch (...) {
        s.error = std::current_exception();
    }
}

void cpk_store_queue::hand_over(std::unique_lock<std::mutex>& lock)
{
    while (!slots_.empty() && slots_.front()->now == slot::state::done) {
        std::unique_ptr<slot> s = std::move(slots_.front());
        slots_.pop_front();
        pending_bytes_ -= s->input_size;
        if (s->error)
            std::rethrow_exception(s->error);
        // Only the caller's thread touches the builder and the order of the slots.
        lock.unlock();
        builder_.add_stored(std::move(s->output));
        lock.lock();
    }
}

void cpk_store_queue::work_or_wait(std::unique_lock<std::mutex>& lock)
{
    if (slot* s = claim()) {
        lock.unlock();
        prepare(*s);
        lock.lock();
        s->now = slot::state::done;
        return;
    }
    const timed_phase timing(job_phase::cpk_waiting);
    slot_done_.wait(lock, [&] { return slots_.front()->now == slot::state::done; });
}

} // namespace qm
