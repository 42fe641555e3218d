#include "cli/embedded_archive.h"

extern "C" const std::uint8_t qm_embedded_archive_begin[];
extern "C" const std::uint8_t qm_embedded_archive_end[];

namespace qm {

byte_span embedded_archive() noexcept
{
    return byte_span(qm_embedded_archive_begin,
                     static_cast<std::size_t>(qm_embedded_archive_end - qm_embedded_archive_begin));
}

} // namespace qm
