#include "rom/file_sink.h"

#include "common/phase_timer.h"

#include <stdexcept>
#include <system_error>

namespace qm {

namespace {

[[noreturn]] void cant_open()
{
    throw std::runtime_error("nds_rom::copy_to failed - can't open output file");
}

} // namespace

file_sink::file_sink(std::filesystem::path destination, sink_tap* tap)
    : destination(std::move(destination)), tap(tap)
{
}

void file_sink::begin()
{
    // The rename at the commit could not replace a folder, and would replace a file this user may
    // not write; both are refused here. Opening an existing file to write, without truncating it,
    // asks the system exactly that.
    std::error_code error;
    if (std::filesystem::is_directory(destination, error))
        cant_open();
    if (std::filesystem::exists(destination, error)) {
        std::ofstream probe(destination, std::ios::binary | std::ios::in | std::ios::out);
        if (!probe)
            cant_open();
    }
    output.emplace(destination);
    out.open(output->temporary_path(), std::ios::binary | std::ios::trunc);
    if (!out)
        cant_open();
    out.exceptions(std::ios::failbit | std::ios::badbit);
}

void file_sink::skip_to(std::uint64_t at)
{
    if (at < end)
        throw std::logic_error("file_sink - pieces out of order");
    if (at == end)
        return;
    // Skipped bytes read as zero once something is written after them, or the file is extended.
    if (tap)
        tap->take_zeros(at - end);
    const timed_phase timing(job_phase::writing);
    out.seekp(static_cast<std::streamoff>(at));
    end = at;
}

void file_sink::write(std::uint64_t at, byte_span data)
{
    skip_to(at);
    if (tap)
        tap->take(data);
    const timed_phase timing(job_phase::writing);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    end += data.size();
}

void file_sink::keep(std::uint64_t at, rom_source& source, std::uint64_t from, std::uint64_t size)
{
    skip_to(at);
    read_in_blocks(source, from, size, block, [&](bytes& part) {
        {
            const timed_phase timing(job_phase::writing);
            out.write(reinterpret_cast<const char*>(part.data()), static_cast<std::streamsize>(part.size()));
        }
        if (tap)
            tap->take_block(part);
    });
    end += size;
}

bool file_sink::set_aside(std::uint64_t at, byte_span data)
{
    if (at < end)
        throw std::logic_error("file_sink - a piece set aside before the end of the image");
    const timed_phase timing(job_phase::writing);
    out.seekp(static_cast<std::streamoff>(at));
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.seekp(static_cast<std::streamoff>(end)); // where the image handed over in order goes on
    return true;
}

void file_sink::put_back(std::uint64_t at, std::uint64_t size)
{
    skip_to(at);
    if (tap && size != 0) {
        out.flush();
        file_source written(output->temporary_path());
        read_in_blocks(written, at, size, block, [&](bytes& part) { tap->take_block(part); });
    }
    end += size;
    const timed_phase timing(job_phase::writing);
    out.seekp(static_cast<std::streamoff>(end)); // past the bytes already there
}

void file_sink::finish(std::uint64_t size)
{
    if (size < end)
        throw std::logic_error("file_sink - image ends before its last piece");
    if (tap)
        tap->take_zeros(size - end);
    const timed_phase timing(job_phase::writing);
    // The padding is made as the gaps are, by writing the last byte only.
    if (end < size) {
        out.seekp(static_cast<std::streamoff>(size - 1));
        out.put(0);
        end = size;
    }
    out.close();
}

void file_sink::commit()
{
    if (!output)
        throw std::logic_error("file_sink - nothing to commit");
    output->commit();
}

void file_sink::discard() noexcept
{
    if (out.is_open()) {
        out.exceptions(std::ios::goodbit);
        out.close();
    }
    if (output)
        output->discard();
}

} // namespace qm
