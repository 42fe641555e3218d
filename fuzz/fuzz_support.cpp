#include "fuzz_support.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace qm::fuzz {

memory_file::memory_file(byte_span data)
{
    fd_ = ::memfd_create("fuzz-input", 0);
    if (fd_ < 0)
        throw std::logic_error("memfd_create failed");
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n <= 0)
            throw std::logic_error("writing the memory file failed");
        done += static_cast<std::size_t>(n);
    }
    // Opening this path opens the memory file itself, from its start.
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

memory_file::~memory_file()
{
    if (fd_ >= 0)
        ::close(fd_);
}

const std::filesystem::path& scratch_dir()
{
    static const std::filesystem::path dir = [] {
        const std::filesystem::path shm = "/dev/shm";
        std::error_code error;
        const std::filesystem::path base =
            std::filesystem::is_directory(shm, error) ? shm : std::filesystem::temp_directory_path();
        std::filesystem::path d = base / ("qm-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    static const bool cleaned_at_exit = [] {
        std::atexit([] {
            std::error_code error;
            std::filesystem::remove_all(scratch_dir(), error);
        });
        return true;
    }();
    (void)cleaned_at_exit;
    return dir;
}

void clear_scratch_dir()
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_dir(), error))
        std::filesystem::remove_all(entry.path(), error);
}

} // namespace qm::fuzz
