#include "cli/embedded_archive.h"

extern "C" const std::uint8_t qm_embedded_archive_begin[];
extern "C" const std::uint8_t qm_embedded_archive_end[];
extern "C" const char qm_embedded_card_begin[];
extern "C" const char qm_embedded_card_end[];

namespace qm {

byte_span embedded_archive() noexcept
{
    return byte_span(qm_embedded_archive_begin,
                     static_cast<std::size_t>(qm_embedded_archive_end - qm_embedded_archive_begin));
}

std::string_view embedded_card() noexcept
{
    return std::string_view(qm_embedded_card_begin,
                            static_cast<std::size_t>(qm_embedded_card_end - qm_embedded_card_begin));
}

} // namespace qm
