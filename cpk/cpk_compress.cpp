#include "cpk/cpk_compress.h"

#include "cpk/cpk_decompress.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace qm {
namespace {

constexpr std::uint32_t hash_bits = 15;
constexpr std::uint32_t hash_mask = (1u << hash_bits) - 1;
constexpr std::uint32_t chain_slots = 8191;
constexpr std::uint32_t max_offset = 8191; // 13-bit field; the distance is offset + 3
constexpr std::uint32_t min_match = 3;

// Hashing a byte keeps the last three bytes hashed (the oldest one's top three bits fall off).
constexpr std::uint32_t hash_in(std::uint32_t h, std::uint8_t x) noexcept
{
    return ((h << 5) ^ x) & hash_mask;
}

// Writes bits most significant first into bytes taken from below the verbatim prefix downwards.
class bit_writer {
public:
    bit_writer(std::uint8_t* buffer, std::size_t stream_top) : buf(buffer), top(stream_top) {}

    void put(std::uint32_t value, unsigned n)
    {
        while (n > 0) {
            const unsigned used = bits % 8;
            const unsigned room = 8 - used;
            const unsigned take = std::min(room, n);
            const std::uint32_t chunk = (value >> (n - take)) & ((1u << take) - 1);
            buf[top - 1 - bits / 8] |= static_cast<std::uint8_t>(chunk << (room - take));
            bits += take;
            n -= take;
        }
    }

    // Stream bytes before the one holding the latest bit (that partly filled byte excluded).
    std::uint64_t full_bytes() const noexcept { return bits == 0 ? 0 : (bits - 1) / 8; }

private:
    std::uint8_t* buf;
    std::size_t top;
    std::uint64_t bits = 0;
};

void put_length(bit_writer& out, std::uint32_t length)
{
    const std::uint32_t l = length - min_match;
    if (l < 3)
        return out.put(l, 2);
    out.put(3, 2);
    if (l < 10)
        return out.put(l - 3, 3);
    out.put(7, 3);
    if (l < 41)
        return out.put(l - 10, 5);
    out.put(31, 5);
    if (l < 296)
        return out.put(l - 41, 8);
    std::uint32_t m = 41;
    do {
        out.put(255, 8);
        m += 255;
    } while (l - m >= 255);
    out.put(l - m, 8);
}

std::uint64_t load64(const std::uint8_t* p) noexcept
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Number of equal bytes going down from a[-1] and b[-1], at most `limit`.
std::uint32_t match_length(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit) noexcept
{
    std::uint32_t j = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // The byte at the highest address is the most significant one of a little-endian load.
        while (limit - j >= 8) {
            const std::uint64_t x = load64(a - 8 - j) ^ load64(b - 8 - j);
            if (x != 0)
                return j + static_cast<std::uint32_t>(std::countl_zero(x) / 8);
            j += 8;
        }
    }
    while (j < limit && a[-1 - std::ptrdiff_t(j)] == b[-1 - std::ptrdiff_t(j)])
        ++j;
    return j;
}

} // namespace

std::optional<bytes> cpk_compress(const std::uint8_t* data, std::uint32_t n)
{
    if (n < cpk_min_compress_size)
        return std::nullopt;
    const std::uint32_t prefix = cpk_verbatim_prefix;

    // Room for the worst case, a literal (9 bits) per byte, below the verbatim prefix.
    const std::size_t e = (std::size_t(n - prefix) * 9 + 7) / 8 + prefix;
    bytes work(e, 0);
    std::memcpy(work.data() + e - prefix, data, prefix);
    bit_writer out(work.data(), e - prefix);

    // A key k names the candidate ending at n - k + 1 (its three bytes are just below that
    // position); 0 means none. Keys grow as the cursor falls, so a chain runs newest first.
    std::vector<std::uint32_t> head(std::size_t(1) << hash_bits, 0);
    std::vector<std::uint32_t> chain(chain_slots, 0);
    auto insert = [&](std::uint32_t& h, std::uint8_t x, std::uint32_t key) {
        h = hash_in(h, x);
        chain[key % chain_slots] = head[h];
        head[h] = key;
    };
    // The insert hash starts empty while the lookup hash is seeded with the last two bytes, so the
    // first two keys are filed under partial hashes. Kept on purpose: the output is fixed bit for bit.
    std::uint32_t insert_hash = 0;
    std::uint32_t lookup_hash = hash_in(hash_in(0, data[n - 1]), data[n - 2]);

    std::uint32_t c = n; // data[c .. n-1] are encoded
    std::uint64_t min_estimate = 0xFFFFFFFF;
    while (c > prefix) {
        // Bytes left to encode (prefix included) plus bytes of the work buffer already used.
        const std::uint64_t estimate = c + prefix + out.full_bytes();
        min_estimate = std::min(min_estimate, estimate);

        if (c + 2 < n)
            insert(insert_hash, data[c], n - c - 2);

        std::uint32_t best = 0;
        std::uint32_t source = 0;
        if (c - 3 >= prefix) {
            lookup_hash = hash_in(lookup_hash, data[c - 3]);
            const std::uint32_t limit = c - prefix; // a match stops above the verbatim prefix
            std::uint32_t d = head[lookup_hash];
            std::uint32_t prev = d;
            // After the first candidate, follow a link only while it leads to an older key: a link
            // overwritten by a newer key (or pointing back at its own slot) ends the walk.
            for (bool first = true; d != 0 && (first || d < prev); first = false) {
                const std::uint32_t s = n - d + 1;
                if (s - c - 3 > max_offset)
                    break;
                // Only a candidate that also matches at byte `best` can be longer than the best.
                if (data[s - 1 - best] == data[c - 1 - best]) {
                    const std::uint32_t len = match_length(data + s, data + c, limit);
                    if (len > best) {
                        best = len;
                        source = s;
                        if (best == limit)
                            break; // nothing can be longer
                    }
                }
                prev = d;
                d = chain[d % chain_slots];
            }
        }

        if (best < min_match) {
            --c;
            out.put(0, 1);
            out.put(data[c], 8);
            continue;
        }
        // File the positions the match covers, then move past it.
        for (std::uint32_t q = c + 2; q + best >= c + 4; --q)
            insert(insert_hash, data[q - 3], n - q + 1);
        out.put(1, 1);
        out.put(source - c - 3, 13);
        c -= best;
        for (std::uint32_t j = 0; j < 2; ++j)
            if (c - 1 - j >= prefix)
                lookup_hash = hash_in(lookup_hash, data[c - 1 - j]);
        put_length(out, best);
    }

    // Three to six zero bytes stay in front of the stream for the reader's look-ahead.
    const std::uint64_t used = prefix + out.full_bytes() + 1;
    const std::uint64_t t = round_up(used + 3, 4);
    if (t >= n || min_estimate <= t)
        return std::nullopt;
    return bytes(work.end() - static_cast<std::ptrdiff_t>(t), work.end());
}

} // namespace qm
