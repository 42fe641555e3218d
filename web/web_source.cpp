#include "web/web_source.h"

#include <ios>
#include <stdexcept>

extern "C" {
// Defined in engine_library.js: the worker script (or the node test) copies `size` bytes of the
// File from `at` into `into`; returns 0, or -1 when the browser cannot read it. The offset travels
// as a double, exact below 2^53.
int qm_source_read(double at, std::uint8_t* into, std::uint32_t size);
}

namespace qm::web {

void web_source::read_at(std::uint64_t offset, mutable_byte_span into)
{
    if (offset > length || into.size() > length - offset)
        throw std::runtime_error("web_source::read_at failed - range outside the file");
    if (into.empty())
        return;
    // A piece larger than 4 GiB cannot come: the engine reads sections of a ROM below 4 GiB.
    if (qm_source_read(static_cast<double>(offset), into.data(), static_cast<std::uint32_t>(into.size())) !=
        0)
        throw std::ios_base::failure("web_source::read_at failed - the file cannot be read any more");
}

} // namespace qm::web
