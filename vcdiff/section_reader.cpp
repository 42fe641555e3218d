#include "vcdiff/section_reader.h"

#include "vcdiff/decode_error.h"
#include "vcdiff/vcdiff_format.h"

#include <string>

namespace qm::vcdiff {

namespace {

[[noreturn]] void ran_out(const char* what)
{
    throw decode_error(std::string(what) + ": delta ends early");
}

} // namespace

std::uint8_t section_reader::read_byte(const char* what)
{
    if (pos >= data.size())
        ran_out(what);
    return data[pos++];
}

std::uint64_t section_reader::read_varint(const char* what, std::uint64_t limit)
{
    std::uint64_t value = 0;
    for (;;) {
        if (pos >= data.size())
            ran_out(what);
        const std::uint8_t b = data[pos++];
        value |= b & 0x7F;
        if (!(b & 0x80))
            return value;
        // Another group follows: shifting must keep the value within the limit.
        if (value > (limit >> 7))
            throw decode_error(std::string(what) + ": integer too large");
        value <<= 7;
    }
}

std::uint64_t section_reader::read_int(const char* what)
{
    return read_varint(what, max_int);
}

byte_span section_reader::take(std::size_t n, const char* what)
{
    if (n > remaining())
        ran_out(what);
    byte_span s = data.subspan(pos, n);
    pos += n;
    return s;
}

} // namespace qm::vcdiff
