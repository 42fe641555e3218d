#include "vcdiff/vcdiff_decoder.h"

#include "vcdiff/adler32.h"
#include "vcdiff/decode_error.h"
#include "vcdiff/section_reader.h"
#include "vcdiff/vcdiff_format.h"
#include "vcdiff/window_decoder.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <vector>

namespace qm {

namespace {

using namespace vcdiff;

std::string hex_byte(std::uint8_t b)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

// Reads the five-byte file header and returns the version byte.
std::uint8_t read_file_header(section_reader& in, byte_span delta)
{
    // Compare the magic bytes that are present before reporting a short header, so that short
    // input of another kind is reported as such.
    for (std::size_t i = 0; i < 3 && i < delta.size(); ++i)
        if (delta[i] != magic[i])
            throw decode_error("not a VCDIFF delta (wrong magic bytes)");
    if (delta.size() > 3 && delta[3] != version_plain && delta[3] != version_interleaved)
        throw decode_error("unsupported VCDIFF version " + hex_byte(delta[3]));
    in.take(4, "file header");
    const std::uint8_t indicator = in.read_byte("Hdr_Indicator");
    if (indicator & hdr_decompress)
        throw decode_error("secondary compression is not supported");
    // The deltas this program applies use the default code table; a delta that brings its
    // own table is refused rather than decoded.
    if (indicator & hdr_codetable)
        throw decode_error("custom code tables are not supported");
    // The remaining bits are ignored. An application header (0x04) is not skipped either:
    // its bytes are read as the first window and normally fail to decode.
    return delta[3];
}

// What a window header says, checked against the source and the target that the earlier
// windows will have produced.
struct window {
    std::uint8_t segment_from = 0; // win_source, win_target or 0
    std::size_t segment_position = 0;
    std::size_t segment_length = 0;
    std::size_t target_length = 0;
    std::optional<std::uint32_t> checksum;
    bool interleaved = false;
    byte_span data;
    byte_span instructions;
    byte_span addresses;
};

window read_window(section_reader& in, std::size_t source_size, std::uint64_t target_before, bool extended)
{
    window w;
    const std::uint8_t indicator = in.read_byte("Win_Indicator");
    w.segment_from = indicator & (win_source | win_target);
    if (w.segment_from == (win_source | win_target))
        throw decode_error("window has both VCD_SOURCE and VCD_TARGET set");

    if (w.segment_from) {
        // VCD_TARGET segments come from the target decoded by all earlier windows.
        const std::uint64_t available = w.segment_from == win_source ? source_size : target_before;
        const std::uint64_t length = in.read_int("source segment length");
        const std::uint64_t position = in.read_int("source segment position");
        if (position > available || length > available - position)
            throw decode_error(std::string("source segment lies outside the ") +
                               (w.segment_from == win_source ? "source" : "target decoded so far"));
        w.segment_length = static_cast<std::size_t>(length);
        w.segment_position = static_cast<std::size_t>(position);
    }

    const std::uint64_t encoding_length = in.read_int("delta encoding length");
    const std::size_t encoding_start = in.position();
    const std::uint64_t target_length = in.read_int("target window length");
    if (target_length > max_target_size)
        throw decode_error("target window of " + std::to_string(target_length) + " bytes exceeds the limit");
    if (target_length > max_target_size - target_before)
        throw decode_error("decoded target would exceed the size limit");
    w.target_length = static_cast<std::size_t>(target_length);
    if (in.read_byte("Delta_Indicator") & delta_compressed_sections)
        throw decode_error("compressed delta sections are not supported");
    const std::uint64_t data_length = in.read_int("data section length");
    const std::uint64_t instructions_length = in.read_int("instructions section length");
    const std::uint64_t addresses_length = in.read_int("addresses section length");
    // Only the interleaved variant knows the checksum; in a plain delta the 0x04 bit means
    // nothing, so a checksum written there breaks the length check below.
    if (extended && (indicator & win_checksum))
        w.checksum = static_cast<std::uint32_t>(in.read_varint("window checksum", max_checksum));
    const std::uint64_t header_length = in.position() - encoding_start;
    if (header_length + data_length + instructions_length + addresses_length != encoding_length)
        throw decode_error("section lengths do not add up to the delta encoding length");

    w.data = in.take(static_cast<std::size_t>(data_length), "data section");
    w.instructions = in.take(static_cast<std::size_t>(instructions_length), "instructions section");
    w.addresses = in.take(static_cast<std::size_t>(addresses_length), "addresses section");
    // The interleaved variant puts everything in the instructions section and leaves the
    // other two empty; with either of them non-empty the plain layout applies.
    w.interleaved = extended && data_length == 0 && addresses_length == 0;
    return w;
}

void decode_window(const window& w, byte_span source, bytes& out)
{
    const std::size_t start = out.size();
    out.resize(start + w.target_length);
    byte_span segment;
    if (w.segment_from == win_source)
        segment = source.subspan(w.segment_position, w.segment_length);
    else if (w.segment_from == win_target)
        segment = byte_span(out).subspan(w.segment_position, w.segment_length);
    const mutable_byte_span target = mutable_byte_span(out).subspan(start);

    section_reader data(w.data);
    section_reader instructions(w.instructions);
    section_reader addresses(w.addresses);
    if (w.interleaved) {
        decode_window_body(segment, target, instructions, instructions, instructions);
    } else {
        decode_window_body(segment, target, data, instructions, addresses);
        if (!data.at_end())
            throw decode_error("data left over after the target window is complete");
        if (!addresses.at_end())
            throw decode_error("addresses left over after the target window is complete");
    }
    if (w.checksum && adler32(target) != *w.checksum)
        throw decode_error("window checksum does not match its target");
}

} // namespace

bool vcdiff_decode(byte_span source, byte_span delta, bytes& target, std::string* why)
{
    // Decoding goes to a vector of its own, so that the source may even live in `target`.
    bytes out;
    try {
        if (!delta.empty()) {
            section_reader in(delta);
            const bool extended = read_file_header(in, delta) == version_interleaved;
            // There is no end marker: windows follow one another to the end of the delta. All
            // headers are read and checked first, so that the output is sized once.
            std::vector<window> windows;
            std::uint64_t total = 0;
            while (!in.at_end()) {
                windows.push_back(read_window(in, source.size(), total, extended));
                total += windows.back().target_length;
            }
            out.reserve(static_cast<std::size_t>(total));
            for (const window& w : windows)
                decode_window(w, source, out);
        }
    } catch (const std::exception& e) {
        target.clear();
        if (why)
            *why = e.what();
        return false;
    }
    target = std::move(out);
    return true;
}

} // namespace qm
