// quillmoor-tool vcdiff-apply / vcdiff-make: VCDIFF deltas between whole files.

#include "cli/tool_command.h"
#include "common/file_io.h"
#include "vcdiff/vcdiff_decoder.h"
#include "vcdiff/vcdiff_encoder.h"
#include "vcdiff/vcdiff_format.h"

#include <array>
#include <iostream>

namespace qm::cli {

namespace {

int vcdiff_apply(const args& a)
{
    expect_args(a, 3, 3);
    const bytes source = read_whole_file(a[0]);
    const bytes delta = read_whole_file(a[1]);
    bytes target;
    std::string why;
    if (!vcdiff_decode(source, delta, target, &why))
        throw std::runtime_error("delta does not decode: " + why);
    write_whole_file(a[2], target);
    return 0;
}

int vcdiff_make(const args& a)
{
    expect_args(a, 3, 3);
    const bytes source = read_whole_file(a[0]);
    const bytes target = read_whole_file(a[1]);
    write_whole_file(a[2], vcdiff_encode(source, target));
    if (target.size() > vcdiff::max_target_size)
        std::cerr << "quillmoor-tool vcdiff-make: warning: the target exceeds 64 MiB; the patchers' decoder "
                     "refuses such deltas\n";
    return 0;
}

const std::array<tool_command, 2> commands = {{
    {"vcdiff-apply", "SRC DELTA OUT", "decode a VCDIFF delta against SRC into OUT", vcdiff_apply,
     "SRC    the file the delta was made from\nDELTA  an RFC 3284 delta\nOUT    the file to write", "OUT",
     nullptr, "quillmoor-tool vcdiff-apply staff.bin staff.vcdiff staff-fr.bin"},
    {"vcdiff-make", "SRC TGT OUT", "write the VCDIFF delta that turns SRC into TGT", vcdiff_make,
     "SRC  the file before\nTGT  the file after\nOUT  the delta to write",
     "OUT; a warning when TGT exceeds 64 MiB, which the patchers' decoder refuses", nullptr,
     "quillmoor-tool vcdiff-make staff.bin staff-fr.bin staff.vcdiff"},
}};

} // namespace

std::span<const tool_command> vcdiff_tool_commands()
{
    return commands;
}

} // namespace qm::cli
