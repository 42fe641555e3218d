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
    {"blz-pack", "IN OUT", "packs a file into the backward LZ form of overlays", blz_pack,
     "IN   the file as loaded (an expanded overlay)\nOUT  the packed file to write",
     "OUT, which blz-unpack expands back to IN", nullptr,
     "quillmoor-tool blz-pack work/overlay9/overlay9_0003.bin ov3.packed"},
    {"blz-unpack", "IN OUT", "expands a file stored in the backward LZ form", blz_unpack,
     "IN   a file in the backward LZ form\nOUT  the expanded file to write", "OUT", nullptr,
     "quillmoor-tool blz-unpack ov3.packed ov3.bin"},
};

} // namespace

std::span<const tool_command> lz_tool_commands()
{
    return commands;
}

} // namespace qm::cli
