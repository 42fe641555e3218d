// SHA-1 from the system's libcrypto (OpenSSL 3), which uses the processor's SHA instructions.

#include "engine/sha1.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace qm {

struct sha1::state {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~state() { EVP_MD_CTX_free(context); }
};

namespace {

// libcrypto fails only when it cannot allocate or has no SHA-1 at all.
void check(int ok)
{
    if (ok != 1)
        throw std::runtime_error("sha1 - the system's libcrypto failed");
}

} // namespace

sha1::sha1() : running(std::make_unique<state>())
{
    if (!running->context)
        throw std::bad_alloc();
    check(EVP_DigestInit_ex(running->context, EVP_sha1(), nullptr));
}

sha1::~sha1() = default;

void sha1::update(byte_span data)
{
    if (!data.empty())
        check(EVP_DigestUpdate(running->context, data.data(), data.size()));
}

sha1::digest sha1::finish()
{
    digest out;
    unsigned length = 0;
    check(EVP_DigestFinal_ex(running->context, out.data(), &length));
    if (length != out.size())
        check(0);
    return out;
}

} // namespace qm
