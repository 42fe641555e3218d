#pragma once
// The proof of a written ROM: its size, CRC-32 and SHA-1, taken as the ROM goes by on its way to
// the sink, so that no one has to read the written file again. SHA-1, the costlier of the two,
// runs on a helper thread of its own where threads are to be had, so that it overlaps the writing.

#include "common/bytes.h"
#include "engine/identity_card.h"
#include "rom/rom_sink.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm {

class phase_timer;
class sha1;

class output_fingerprint final : public sink_tap {
public:
    // `helper` false hashes on the caller's thread.
    explicit output_fingerprint(bool helper = default_helper());
    // The same, the helper started by `start`. Where it throws std::system_error (as the system
    // does when it has no thread to spare) the caller's thread hashes instead.
    using thread_starter = std::function<std::thread(std::function<void()>)>;
    output_fingerprint(bool helper, thread_starter start);
    ~output_fingerprint() override;
    output_fingerprint(const output_fingerprint&) = delete;
    output_fingerprint& operator=(const output_fingerprint&) = delete;

    void take(byte_span data) override;
    void take_zeros(std::uint64_t count) override;
    void take_block(bytes& block) override;

    // Everything taken so far, fingerprinted (title and game code from its first 16 bytes). The
    // object is spent afterwards.
    rom_fingerprint result();

    // True where the build has threads and the machine more than one.
    static bool default_helper() noexcept;

private:
    // Bytes for the helper, or a run of zeros (`zeros` bytes, no `data`).
    struct piece {
        bytes data;
        std::uint64_t zeros = 0;
    };
    // Notes the bytes for the size, the header's names and the CRC-32.
    void note(byte_span data);
    // A block for the helper to hash: a spare, or a new one.
    bytes spare_block();
    // Starts the helper at the first piece; clears use_helper when it cannot start.
    void start_helper();
    void hand_over(piece p);
    void helper_loop();

    bool use_helper;
    thread_starter start;
    std::unique_ptr<sha1> hash;
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    std::string head; // the first 16 bytes
    bool spent = false;

    phase_timer* timer = nullptr; // the job's, seen by the first take
    std::mutex lock;
    std::condition_variable changed;
    std::deque<piece> queue;   // for the helper, in order
    std::vector<bytes> spares; // blocks the helper is done with
    bool closing = false;
    std::exception_ptr failure; // of the helper's hashing
    std::thread helper;
};

} // namespace qm
