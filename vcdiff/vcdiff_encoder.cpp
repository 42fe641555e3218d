#include "vcdiff/vcdiff_encoder.h"

#include "vcdiff/match_finder.h"
#include "vcdiff/vcdiff_format.h"
#include "vcdiff/window_encoder.h"

#include <algorithm>
#include <stdexcept>

namespace qm {

namespace {

using namespace vcdiff;

// Target bytes per window; every window copies from its own region of the source.
constexpr std::size_t window_size = 8u << 20;

void write_window(bytes& out, byte_span target, std::size_t begin, const std::vector<edit>& edits)
{
    // The source segment spans exactly the source bytes this window copies.
    std::uint64_t lo = UINT64_MAX, hi = 0;
    for (const edit& e : edits)
        if (e.what == edit::kind::copy_source) {
            lo = std::min(lo, e.from);
            hi = std::max(hi, e.from + e.size);
        }
    const bool has_segment = hi > 0;
    const std::uint64_t segment_length = has_segment ? hi - lo : 0;

    window_encoder w(segment_length);
    for (const edit& e : edits) {
        switch (e.what) {
        case edit::kind::add:
            w.add(target.subspan(static_cast<std::size_t>(e.from), e.size));
            break;
        case edit::kind::run:
            w.run(static_cast<std::uint8_t>(e.from), e.size);
            break;
        case edit::kind::copy_source:
            w.copy(e.from - lo, e.size);
            break;
        case edit::kind::copy_target:
            w.copy(segment_length + (e.from - begin), e.size);
            break;
        }
    }
    w.finish(out, has_segment ? win_source : 0, has_segment ? lo : 0);
}

} // namespace

bytes vcdiff_encode(byte_span source, byte_span target)
{
    // Segment lengths, positions and addresses are 31-bit integers.
    if (source.size() > max_int - window_size)
        throw std::runtime_error("vcdiff_encode: source too large");
    if (target.size() > UINT32_MAX - 1)
        throw std::runtime_error("vcdiff_encode: target too large");

    bytes out(magic, magic + 3);
    out.push_back(version_plain);
    out.push_back(0); // Hdr_Indicator: no secondary compressor, default code table

    if (target.empty()) {
        // One empty window rather than none: some decoders refuse a delta without windows.
        window_encoder(0).finish(out, 0, 0);
        return out;
    }

    match_finder finder(source, target);
    std::vector<edit> edits;
    for (std::size_t begin = 0; begin < target.size(); begin += window_size) {
        const std::size_t end = std::min(target.size(), begin + window_size);
        edits.clear();
        finder.parse(begin, end, edits);
        write_window(out, target, begin, edits);
    }
    return out;
}

} // namespace qm
