// What every build's SHA-1 shares; the digest itself is in sha1_<platform>.cpp.

#include "engine/sha1.h"

namespace qm {

sha1::digest sha1::of(byte_span data)
{
    sha1 h;
    h.update(data);
    return h.finish();
}

std::string sha1::hex(const digest& d)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : d) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0xF]);
    }
    return text;
}

} // namespace qm
