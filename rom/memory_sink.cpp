#include "rom/rom_sink.h"

#include <algorithm>
#include <stdexcept>

namespace qm {

mutable_byte_span memory_sink::grow_to(std::uint64_t at, std::uint64_t length)
{
    if (at < contents.size())
        throw std::logic_error("memory_sink - pieces out of order");
    if (tap)
        tap->take_zeros(at - contents.size());
    contents.resize(static_cast<std::size_t>(at + length));
    return mutable_byte_span(contents).subspan(static_cast<std::size_t>(at));
}

void memory_sink::write(std::uint64_t at, byte_span data)
{
    const mutable_byte_span place = grow_to(at, data.size());
    std::copy(data.begin(), data.end(), place.begin());
    if (tap)
        tap->take(data);
}

void memory_sink::keep(std::uint64_t at, rom_source& source, std::uint64_t from, std::uint64_t size)
{
    const mutable_byte_span place = grow_to(at, size);
    source.read_at(from, place);
    if (tap)
        tap->take(place);
}

void memory_sink::finish(std::uint64_t size)
{
    if (size < contents.size())
        throw std::logic_error("memory_sink - image ends before its last piece");
    (void)grow_to(size, 0);
}

} // namespace qm
