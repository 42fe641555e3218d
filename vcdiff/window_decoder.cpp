#include "vcdiff/window_decoder.h"

#include "vcdiff/address_cache.h"
#include "vcdiff/code_table.h"
#include "vcdiff/decode_error.h"

#include <algorithm>
#include <cstring>

namespace qm::vcdiff {

namespace {

// COPY from the address space "source segment, then this window's target". A copy may start
// in the segment and run on into the target, and a target copy may overlap the bytes it is
// writing: the result is then the byte-by-byte one, a repetition of the bytes between the
// start address and the write position.
void copy_bytes(byte_span segment, std::uint8_t* out, std::size_t written, std::uint64_t address,
                std::size_t size)
{
    std::size_t w = written;
    if (address < segment.size()) {
        const std::size_t part =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, segment.size() - address));
        std::memcpy(out + w, segment.data() + address, part);
        w += part;
        size -= part;
        address = segment.size();
    }
    // from < w: the address was checked to lie before the write position.
    const std::size_t from = static_cast<std::size_t>(address - segment.size());
    while (size > 0) {
        // out[from, w) already holds whole periods of the pattern, so a chunk up to that
        // length can be copied at once without overlapping its own destination.
        const std::size_t chunk = std::min(size, w - from);
        std::memcpy(out + w, out + from, chunk);
        w += chunk;
        size -= chunk;
    }
}

} // namespace

void decode_window_body(byte_span segment, mutable_byte_span target, section_reader& data,
                        section_reader& instructions, section_reader& addresses)
{
    const code_table& table = default_code_table();
    address_cache cache;
    cache.reset();
    std::uint8_t* const out = target.data();
    const std::size_t length = target.size();
    std::size_t written = 0;

    while (written < length) {
        if (instructions.at_end())
            throw decode_error("instructions end before the target window is complete");
        const code_table_entry& entry = table[instructions.read_byte("instruction")];
        for (const half_instruction* inst : {&entry.first, &entry.second}) {
            if (inst->type == inst_type::noop)
                continue;
            const std::uint64_t size = inst->size ? inst->size : instructions.read_int("instruction size");
            if (size > length - written)
                throw decode_error("instruction runs past the end of the target window");
            const std::size_t n = static_cast<std::size_t>(size);
            switch (inst->type) {
            case inst_type::add: {
                const byte_span bytes = data.take(n, "ADD data");
                if (n)
                    std::memcpy(out + written, bytes.data(), n);
                break;
            }
            case inst_type::run: {
                const std::uint8_t b = data.read_byte("RUN byte");
                std::memset(out + written, b, n);
                break;
            }
            case inst_type::copy: {
                const std::uint64_t here = segment.size() + written;
                const std::uint64_t address = cache.decode(inst->mode, here, addresses);
                copy_bytes(segment, out, written, address, n);
                break;
            }
            case inst_type::noop:
                break;
            }
            written += n;
        }
    }
    if (!instructions.at_end())
        throw decode_error("instructions left over after the target window is complete");
}

} // namespace qm::vcdiff
