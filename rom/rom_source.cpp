#include "rom/rom_source.h"

#include "common/phase_timer.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace qm {

file_source::file_source(const std::filesystem::path& path) : in(path, std::ios::binary)
{
    // Some systems open a folder for reading as if it were a file; it is no input file all the same.
    std::error_code error;
    if (!in || std::filesystem::is_directory(path, error))
        throw std::runtime_error("nds_rom::nds_rom - can't open input file");
    in.exceptions(std::ios::failbit | std::ios::badbit);
    in.seekg(0, std::ios::end);
    length = static_cast<std::uint64_t>(static_cast<std::streamoff>(in.tellg()));
}

void file_source::read_at(std::uint64_t offset, mutable_byte_span into)
{
    if (into.empty())
        return;
    in.clear(); // an earlier failed read, already reported, leaves the stream usable
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
}

void read_in_blocks(rom_source& source, std::uint64_t from, std::uint64_t size, bytes& block,
                    const std::function<void(bytes&)>& take)
{
    constexpr std::uint64_t block_size = 1u << 20;
    for (std::uint64_t done = 0; done < size;) {
        block.resize(static_cast<std::size_t>(std::min(size - done, block_size)));
        {
            const timed_phase timing(job_phase::reading);
            source.read_at(from + done, block);
        }
        done += block.size();
        take(block);
    }
}

void memory_source::read_at(std::uint64_t offset, mutable_byte_span into)
{
    const std::uint64_t size = view.size(); // offsets are 64-bit even where size_t is not
    if (offset > size || into.size() > size - offset)
        throw std::runtime_error("memory_source::read_at failed - range outside the image");
    std::copy_n(view.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
}

} // namespace qm
