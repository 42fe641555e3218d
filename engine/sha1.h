#pragma once
// SHA-1 (FIPS 180-4): the fingerprint by which players and ROM lists name a dump. Used here to
// tell a player's ROM apart from the release a patch was made for, and to prove a result.

#include "common/bytes.h"

#include <array>
#include <cstdint>
#include <string>

namespace qm {

class sha1 {
public:
    using digest = std::array<std::uint8_t, 20>;

    void update(byte_span data) noexcept;
    // The digest of everything given; the object is spent afterwards.
    digest finish() noexcept;

    static digest of(byte_span data) noexcept;
    // 40 lowercase hexadecimal digits.
    static std::string hex(const digest& d);

private:
    void compress(const std::uint8_t* block) noexcept;

    std::array<std::uint32_t, 5> state{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    std::array<std::uint8_t, 64> buffer{};
    std::size_t buffered = 0;
    std::uint64_t length = 0; // bytes given so far
};

} // namespace qm
