// The libFuzzer entry of one target; the build names the target (QM_FUZZ_TARGET).
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qm::fuzz::QM_FUZZ_TARGET(qm::byte_span(data, size));
    return 0;
}
