// The targets of the compressors and the delta coder: their decoders on input from anywhere, and
// their encoders' round trips.

#include "cpk/cpk_compress.h"
#include "cpk/cpk_decompress.h"
#include "fuzz_support.h"
#include "lz/nds_lz.h"
#include "vcdiff/vcdiff_decoder.h"
#include "vcdiff/vcdiff_encoder.h"

#include <algorithm>
#include <cstring>

namespace qm::fuzz {

// Backward LZ expansion of a stored overlay: a form that expands gives exactly the length its
// footer declares (the stored length plus the footer's word, modulo 2^32).
void blz_decomp(byte_span stored)
{
    bytes expanded;
    if (attempt([&] { expanded = nds_lz_inplace_decomp(bytes(stored.begin(), stored.end())); }))
        expect(stored.size() >= 4 &&
                   expanded.size() ==
                       static_cast<std::uint32_t>(stored.size() + get_le32(stored, stored.size() - 4)),
               "expanded length differs from the declared one");
}

// Backward LZ packing: whatever the data, the packed form expands in place to the data again.
void blz_roundtrip(byte_span data)
{
    bytes packed, expanded;
    if (!attempt([&] { packed = nds_lz_comp(data); }))
        return; // only data past the format's 16 MiB region can be refused
    expect(attempt([&] { expanded = nds_lz_inplace_decomp(packed); }), "packed form does not expand");
    expect(std::ranges::equal(expanded, data), "round trip changed the data");
}

// Expansion of a CPK entry with a claimed expanded size up to the largest one that the archive
// reader lets through for the stored length. Input: a byte choosing expansion into a separate
// buffer or in place, the claimed size (u32), the entry.
void cpk_decompress(byte_span input)
{
    input_reader in(input);
    const bool in_place = in.u8() & 1;
    const std::uint32_t claimed = in.u32();
    const byte_span src = in.all();
    const auto t = static_cast<std::uint32_t>(src.size());
    // cpk_visit refuses larger claims before allocating; the function itself sees only these.
    const std::uint64_t n = claimed % (cpk_max_extract_size(t) + 1);
    bytes dst(std::max<std::uint64_t>(n, t));
    if (in_place && t > 0)
        std::memcpy(dst.data(), src.data(), t);
    const byte_span from = in_place && t > 0 ? byte_span(dst).first(t) : src;
    attempt([&] { qm::cpk_decompress(from, mutable_byte_span(dst).first(n)); });
}

// CPK entry compression: a compressed form is shorter than the file, a multiple of 4 bytes long,
// and expands to exactly the file.
void cpk_roundtrip(byte_span file)
{
    const std::optional<bytes> packed = cpk_compress(file);
    if (!packed)
        return;
    expect(file.size() >= cpk_min_compress_size, "a short file was compressed");
    expect(packed->size() < file.size() && packed->size() % 4 == 0, "compressed form of a bad length");
    bytes expanded(file.size());
    expect(attempt([&] { qm::cpk_decompress(*packed, expanded); }), "compressed form does not expand");
    expect(std::ranges::equal(expanded, file), "round trip changed the file");
}

// VCDIFF decoding against a source from anywhere. Input: u16 source length, the source, then the
// delta. A failed decode leaves no output behind.
void vcdiff_decode(byte_span input)
{
    input_reader in(input);
    const byte_span source = in.part();
    bytes target{1, 2, 3};
    std::string why;
    if (!qm::vcdiff_decode(source, in.all(), target, &why))
        expect(target.empty() && !why.empty(), "failed decode left output or no reason");
}

// VCDIFF encoding: the delta from any source to any target decodes against the source to
// exactly the target. Input: u16 source length, the source, then the target.
void vcdiff_roundtrip(byte_span input)
{
    input_reader in(input);
    const byte_span source = in.part();
    const byte_span target = in.all();
    bytes decoded;
    std::string why;
    expect(qm::vcdiff_decode(source, vcdiff_encode(source, target), decoded, &why),
           "delta does not decode: " + why);
    expect(std::ranges::equal(decoded, target), "round trip changed the target");
}

} // namespace qm::fuzz
