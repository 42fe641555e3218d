// blz-pack / blz-unpack: the backward LZ form of compressed overlays, file to file.

#include "cli/tool_command.h"
#include "common/file_io.h"
#include "lz/nds_lz.h"

namespace qm::cli {
namespace {

int blz_pack(const args& a)
{
    expect_args(a, 2, 2);
    const bytes packed = nds_lz_comp(read_whole_file(a[0]));
    write_whole_file(a[1], packed);
    return 0;
}

int blz_unpack(const args& a)
{
    expect_args(a, 2, 2);
    const bytes data = nds_lz_inplace_decomp(read_whole_file(a[0]));
    write_whole_file(a[1], data);
    return 0;
}

const tool_command commands[] = {
    {"blz-pack", "IN OUT", "packs a file into the backward LZ form of overlays", blz_pack},
    {"blz-unpack", "IN OUT", "expands a file stored in the backward LZ form", blz_unpack},
};

} // namespace

std::span<const tool_command> lz_tool_commands()
{
    return commands;
}

} // namespace qm::cli
