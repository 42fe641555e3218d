#include "rom/pending_output.h"

#include <chrono>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qm {

namespace {

std::string random_suffix()
{
    // Seeded once per thread from the system's entropy and the clock; names only need to be
    // unlikely to meet, and an existing name is skipped anyway.
    thread_local std::mt19937_64 generator([] {
        std::random_device device;
        const auto now =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        return (std::uint64_t{device()} << 32) ^ device() ^ now;
    }());
    static constexpr char digits[] = "0123456789abcdef";
    std::uint64_t value = generator();
    std::string text(16, '0');
    for (char& c : text) {
        c = digits[value & 0xF];
        value >>= 4;
    }
    return text;
}

} // namespace

pending_output::pending_output(std::filesystem::path destination) : destination_path(std::move(destination))
{
    // ".<name>.tmp-<random>" beside the destination, so that the final rename stays within one
    // file system and cannot be mistaken for a finished file.
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::filesystem::path name = ".";
        name += destination_path.filename();
        name += ".tmp-" + random_suffix();
        temporary = destination_path.parent_path() / name;
        std::error_code error;
        if (!std::filesystem::exists(temporary, error))
            break;
    }
}

pending_output::~pending_output()
{
    discard();
}

pending_output::pending_output(pending_output&& other) noexcept
    : destination_path(std::move(other.destination_path)), temporary(std::move(other.temporary)),
      done(other.done)
{
    other.done = true;
}

void pending_output::commit()
{
    if (done)
        throw std::runtime_error("pending_output::commit failed - nothing left to commit");
    std::error_code error;
#ifdef _WIN32
    // Replaces an existing destination, and returns only once the rename has reached the disk.
    if (!MoveFileExW(temporary.c_str(), destination_path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
#else
    std::filesystem::rename(temporary, destination_path, error);
#endif
    if (error) {
        discard();
        throw std::runtime_error("pending_output::commit failed - can't replace the destination (" +
                                 error.message() + ")");
    }
    done = true;
}

void pending_output::discard() noexcept
{
    if (done)
        return;
    done = true;
    std::error_code error;
    std::filesystem::remove(temporary, error);
}

} // namespace qm
