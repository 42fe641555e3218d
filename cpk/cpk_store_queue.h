#pragma once
// Files for a cpk_builder prepared (compressed) on helper threads while the caller goes on
// producing the next ones; they reach the builder in the order they were added, so the archive
// is the one that adding them one by one would give.

#include "common/bytes.h"
#include "cpk/cpk_builder.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qm {

class cpk_store_queue {
public:
    // `helpers` threads compress besides the caller's (0: the caller does all the work when it
    // waits). The builder must outlive the queue.
    explicit cpk_store_queue(cpk_builder& builder, unsigned helpers = default_helpers());
    // Stops the helpers; files not yet handed to the builder are dropped.
    ~cpk_store_queue();
    cpk_store_queue(const cpk_store_queue&) = delete;
    cpk_store_queue& operator=(const cpk_store_queue&) = delete;

    // Queues one file (its expanded bytes); throws as the builder would when it cannot take it.
    // May compress queued files itself, or wait, while too much work is pending.
    void add_file(bytes data);
    // Returns once every file added is in the builder. Errors of the compression surface here
    // or in add_file.
    void finish();

    // One thread fewer than the machine has, at least one.
    static unsigned default_helpers();

private:
    struct slot {
        bytes input;
        std::uint64_t input_size = 0;
        cpk_stored_file output;
        std::exception_ptr error;
        enum class state { queued, working, done } now = state::queued;
    };

    void help_loop();
    // Claims the oldest queued slot, or returns null (lock held).
    slot* claim();
    void prepare(slot& s);
    // Hands the finished slots at the front to the builder.
    void hand_over(std::unique_lock<std::mutex>& lock);
    // Compresses a queued file on the caller's thread, or waits for a helper to finish one.
    void work_or_wait(std::unique_lock<std::mutex>& lock);

    cpk_builder& builder_;
    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable slot_done_;
    std::deque<std::unique_ptr<slot>> slots_; // in the order of add_file; the front goes first
    std::uint64_t pending_bytes_ = 0;
    std::uint64_t added_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> helpers_;
};

} // namespace qm
