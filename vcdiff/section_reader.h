#pragma once
// A read cursor over one part of a delta. Its position never leaves [0, size]: every read
// checks what is left first and throws decode_error, naming the field, when it runs short.

#include "common/bytes.h"

#include <cstdint>

namespace qm::vcdiff {

class section_reader {
public:
    section_reader() = default;
    explicit section_reader(byte_span data) : data(data) {}

    bool at_end() const { return pos == data.size(); }
    std::size_t position() const { return pos; }
    std::size_t remaining() const { return data.size() - pos; }

    std::uint8_t read_byte(const char* what);
    // A big-endian base-128 integer no larger than `limit`. Leading zero groups are allowed.
    std::uint64_t read_varint(const char* what, std::uint64_t limit);
    std::uint64_t read_int(const char* what);
    // The next n bytes, which must all be there.
    byte_span take(std::size_t n, const char* what);

private:
    byte_span data;
    std::size_t pos = 0;
};

} // namespace qm::vcdiff
