#pragma once
// SHA-1 (FIPS 180-4): the fingerprint by which players and ROM lists name a dump. Used here to
// tell a player's ROM apart from the release a patch was made for, and to prove a result.
//
// The digest itself comes from the platform where it has a well-kept implementation, which uses
// the processor's SHA instructions: the system's libcrypto on Linux and macOS, CNG on Windows.
// Only the WebAssembly build, which has neither, carries a portable one (sha1_portable.cpp).

#include "common/bytes.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace qm {

class sha1 {
public:
    using digest = std::array<std::uint8_t, 20>;

    sha1();
    ~sha1();
    sha1(const sha1&) = delete;
    sha1& operator=(const sha1&) = delete;

    void update(byte_span data);
    // The digest of everything given; the object is spent afterwards.
    digest finish();

    static digest of(byte_span data);
    // 40 lowercase hexadecimal digits.
    static std::string hex(const digest& d);

private:
    struct state;
    std::unique_ptr<state> running;
};

} // namespace qm
