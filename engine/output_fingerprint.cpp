#include "engine/output_fingerprint.h"

#include "common/phase_timer.h"
#include "engine/crc32.h"
#include "engine/sha1.h"

#include <algorithm>
#include <array>
#include <system_error>
#include <utility>

namespace qm {

namespace {

// Blocks handed to the helper at most, and how many may wait for it: the memory the proof takes
// stays small and fixed, whatever the size of the ROM.
constexpr std::size_t block_size = 1u << 20;
constexpr std::size_t max_waiting = 4;

constexpr std::array<std::uint8_t, 64 * 1024> zero_block{};

template <class F> void for_each_zero_block(std::uint64_t count, F&& f)
{
    for (; count != 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, zero_block.size()));
        f(byte_span(zero_block.data(), n));
        count -= n;
    }
}

} // namespace

bool output_fingerprint::default_helper() noexcept
{
#ifdef QM_NO_THREADS
    return false;
#else
    return std::thread::hardware_concurrency() > 1;
#endif
}

output_fingerprint::output_fingerprint(bool helper)
    : output_fingerprint(helper, [](std::function<void()> loop) { return std::thread(std::move(loop)); })
{
}

output_fingerprint::output_fingerprint(bool helper, thread_starter start)
    : use_helper(helper), start(std::move(start)), hash(std::make_unique<sha1>())
{
}

void output_fingerprint::start_helper()
{
    timer = phase_timer::of_this_thread().timer;
    try {
        helper = start([this] { helper_loop(); });
    } catch (const std::system_error&) {
        use_helper = false; // no thread to spare: this thread hashes, as without a helper
    }
}

output_fingerprint::~output_fingerprint()
{
    if (helper.joinable()) {
        {
            const std::lock_guard guard(lock);
            closing = true;
        }
        changed.notify_all();
        helper.join();
    }
}

void output_fingerprint::note(byte_span data)
{
    if (head.size() < 16)
        head.append(reinterpret_cast<const char*>(data.data()),
                    std::min<std::size_t>(data.size(), 16 - head.size()));
    length += data.size();
    // CRC-32 here, SHA-1 on the helper.
    const timed_phase timing(job_phase::fingerprinting);
    crc = crc32_continue(crc, data);
    if (use_helper && !helper.joinable())
        start_helper();
}

bytes output_fingerprint::spare_block()
{
    const std::lock_guard guard(lock);
    if (spares.empty())
        return {};
    bytes block = std::move(spares.back());
    spares.pop_back();
    return block;
}

void output_fingerprint::take(byte_span data)
{
    note(data);
    if (!use_helper) {
        const timed_phase timing(job_phase::fingerprinting);
        hash->update(data);
        return;
    }
    while (!data.empty()) {
        const std::size_t n = std::min(data.size(), block_size);
        piece p;
        p.data = spare_block();
        p.data.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        hand_over(std::move(p));
        data = data.subspan(n);
    }
}

void output_fingerprint::take_block(bytes& block)
{
    note(block);
    if (!use_helper) {
        const timed_phase timing(job_phase::fingerprinting);
        hash->update(block);
        return;
    }
    // The block goes to the helper as it is; the caller gets a spare back in its place.
    piece p;
    p.data = std::exchange(block, spare_block());
    hand_over(std::move(p));
}

void output_fingerprint::take_zeros(std::uint64_t count)
{
    if (count == 0)
        return;
    if (head.size() < 16)
        head.append(static_cast<std::size_t>(std::min<std::uint64_t>(count, 16 - head.size())), '\0');
    length += count;
    const timed_phase timing(job_phase::fingerprinting);
    for_each_zero_block(count, [&](byte_span zeros) { crc = crc32_continue(crc, zeros); });
    if (use_helper && !helper.joinable())
        start_helper();
    if (!use_helper) {
        for_each_zero_block(count, [&](byte_span zeros) { hash->update(zeros); });
        return;
    }
    piece p;
    p.zeros = count;
    hand_over(std::move(p));
}

void output_fingerprint::hand_over(piece p)
{
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return queue.size() < max_waiting; });
    queue.push_back(std::move(p));
    guard.unlock();
    changed.notify_all();
}

void output_fingerprint::helper_loop()
{
    const phase_timer_binding binding(timer, true);
    for (;;) {
        piece p;
        {
            std::unique_lock guard(lock);
            changed.wait(guard, [&] { return closing || !queue.empty(); });
            if (queue.empty())
                return;
            p = std::move(queue.front());
            queue.pop_front();
        }
        changed.notify_all();
        try {
            const timed_phase timing(job_phase::fingerprinting);
            if (p.zeros != 0)
                for_each_zero_block(p.zeros, [&](byte_span zeros) { hash->update(zeros); });
            else
                hash->update(p.data);
        } catch (...) {
            const std::lock_guard guard(lock);
            if (!failure)
                failure = std::current_exception(); // raised by result()
        }
        if (p.data.capacity() != 0) {
            const std::lock_guard guard(lock);
            spares.push_back(std::move(p.data));
        }
    }
}

rom_fingerprint output_fingerprint::result()
{
    if (spent)
        throw std::logic_error("output_fingerprint::result - already taken");
    spent = true;
    if (helper.joinable()) {
        {
            const std::lock_guard guard(lock);
            closing = true;
        }
        changed.notify_all();
        helper.join(); // it empties the queue before it ends
    }
    if (failure)
        std::rethrow_exception(failure);
    rom_fingerprint f;
    f.size = length;
    f.crc32 = crc;
    f.sha1 = sha1::hex(hash->finish());
    read_header_names(head, f);
    return f;
}

} // namespace qm
