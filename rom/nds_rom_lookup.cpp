// Lookups between file-system paths and file ids, over the FNT kept by nds_rom.

#include "rom/fnt.h"
#include "rom/nds_rom.h"

#include <stdexcept>

namespace qm {

std::uint16_t nds_rom::get_file_id(std::string path) const
{
    const std::optional<std::uint16_t> id = fnt_find_file(fnt, path);
    if (!id)
        throw std::runtime_error("nds_rom::get_file_id failed - path not found");
    return *id;
}

std::string nds_rom::fid_to_string(std::uint16_t id) const
{
    if (!path_index)
        path_index.emplace(fnt);
    std::optional<std::string> path = path_index->path_of(id);
    if (!path)
        throw std::runtime_error("nds_rom::fid_to_string failed - unknown ID");
    return std::move(*path);
}

} // namespace qm
