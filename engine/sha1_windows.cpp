// SHA-1 from Windows' own cryptography (CNG), which uses the processor's SHA instructions.

#include "engine/sha1.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>

namespace qm {

struct sha1::state {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~state()
    {
        if (handle)
            BCryptDestroyHash(handle);
        if (algorithm)
            BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

namespace {

void check(NTSTATUS status)
{
    if (status < 0)
        throw std::runtime_error("sha1 - Windows' cryptography failed");
}

} // namespace

sha1::sha1() : running(std::make_unique<state>())
{
    check(BCryptOpenAlgorithmProvider(&running->algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0));
    // The hash object's memory is left to the system.
    check(BCryptCreateHash(running->algorithm, &running->handle, nullptr, 0, nullptr, 0, 0));
}

sha1::~sha1() = default;

void sha1::update(byte_span data)
{
    // Fed in pieces whose size a ULONG holds.
    while (!data.empty()) {
        const std::size_t n = std::min<std::size_t>(data.size(), 0x80000000u);
        check(BCryptHashData(running->handle, const_cast<PUCHAR>(data.data()), static_cast<ULONG>(n), 0));
        data = data.subspan(n);
    }
}

sha1::digest sha1::finish()
{
    digest out;
    check(BCryptFinishHash(running->handle, out.data(), static_cast<ULONG>(out.size()), 0));
    return out;
}

} // namespace qm
