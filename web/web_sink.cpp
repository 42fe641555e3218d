#include "web/web_sink.h"

#include "common/phase_timer.h"

#include <stdexcept>

extern "C" {
// Defined in engine_library.js: the worker script (or the node test) records each piece. Offsets
// and sizes travel as doubles, exact below 2^53.
void qm_sink_write(double at, const std::uint8_t* data, std::uint32_t size);
void qm_sink_keep(double at, double from, double size);
void qm_sink_finish(double size);
}

namespace qm::web {

void web_sink::skip_to(std::uint64_t at)
{
    if (at < end)
        throw std::logic_error("web_sink - pieces out of order");
    if (tap)
        tap->take_zeros(at - end);
    end = at;
}

void web_sink::write(std::uint64_t at, byte_span data)
{
    skip_to(at);
    if (tap)
        tap->take(data);
    const timed_phase timing(job_phase::writing);
    // A piece larger than 4 GiB cannot come: the rebuilt ROM stays below 2 GiB.
    qm_sink_write(static_cast<double>(at), data.data(), static_cast<std::uint32_t>(data.size()));
    end += data.size();
}

void web_sink::keep(std::uint64_t at, rom_source& source, std::uint64_t from, std::uint64_t size)
{
    skip_to(at);
    if (tap)
        read_in_blocks(source, from, size, block, [&](bytes& part) { tap->take_block(part); });
    qm_sink_keep(static_cast<double>(at), static_cast<double>(from), static_cast<double>(size));
    end += size;
}

void web_sink::finish(std::uint64_t size)
{
    skip_to(size);
    qm_sink_finish(static_cast<double>(size));
}

} // namespace qm::web
