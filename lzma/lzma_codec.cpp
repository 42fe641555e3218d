#include "lzma/lzma_codec.h"

#include <LzmaDec.h>
#include <LzmaEnc.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace qm {

namespace {

void* sdk_alloc(void*, size_t size)
{
    return std::malloc(size);
}

void sdk_free(void*, void* address)
{
    std::free(address);
}

ISzAlloc sdk_allocator{sdk_alloc, sdk_free};

// Upper bound of the encoder's dictionary: the packed archive is a few MB, and this keeps the
// encoder's memory moderate for anything larger.
constexpr UInt32 max_dictionary = 1u << 24;

} // namespace

bool lzma_unpack(byte_span props, byte_span stream, mutable_byte_span out)
{
    if (props.size() > UINT_MAX)
        return false;
    SizeT out_size = out.size();
    SizeT in_size = stream.size();
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    // LZMA_FINISH_ANY: decoding stops once out is full, with or without an end marker. An
    // input that ends before then is reported by the SDK as SZ_ERROR_INPUT_EOF.
    const SRes result =
        LzmaDecode(out.data(), &out_size, stream.data(), &in_size, props.data(),
                   static_cast<unsigned>(props.size()), LZMA_FINISH_ANY, &status, &sdk_allocator);
    return result == SZ_OK;
}

lzma_packed lzma_pack(byte_span data)
{
    CLzmaEncProps p;
    LzmaEncProps_Init(&p);
    p.level = 9;
    p.dictSize = max_dictionary;
    // Lets the SDK shrink the dictionary to the input's size.
    p.reduceSize = static_cast<UInt32>(std::min<std::size_t>(data.size(), 0xFFFFFFFFu));
    p.numThreads = 1;
    p.writeEndMark = 0;

    lzma_packed packed{};
    // Incompressible input grows by a small fraction; retry larger if that was not enough.
    std::size_t capacity = data.size() + data.size() / 16 + 1024;
    for (;;) {
        packed.stream.resize(capacity);
        SizeT stream_size = capacity;
        SizeT props_size = packed.props.size();
        const SRes result =
            LzmaEncode(packed.stream.data(), &stream_size, data.data(), data.size(), &p, packed.props.data(),
                       &props_size, 0, nullptr, &sdk_allocator, &sdk_allocator);
        if (result == SZ_OK && props_size == packed.props.size()) {
            packed.stream.resize(stream_size);
            return packed;
        }
        if (result != SZ_ERROR_OUTPUT_EOF)
            throw std::runtime_error("LZMA encoding failed (SDK error " + std::to_string(result) + ")");
        capacity *= 2;
    }
}

} // namespace qm
