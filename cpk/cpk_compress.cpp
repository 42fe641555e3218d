#include "cpk/cpk_compress.h"

#include "cpk/cpk_decompress.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace qm {
namespace {

constexpr std::uint32_t max_offset = 8191; // 13-bit field; the distance is offset + 3
constexpr std::uint32_t min_distance = 3;
constexpr std::uint32_t max_distance = max_offset + min_distance;
constexpr std::uint32_t min_match = 3;

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

// The compressor's match finder, as the format defines it, files a key per position under a
// 15-bit hash of three bytes in a head table and an 8191-slot chain ring, and walks the chain
// newest first. What that walk visits is exactly the filed positions within 8194 bytes above the
// cursor whose hash equals the cursor's: a link can only have been overwritten for the one key at
// distance 8194, and whatever it leads to ends the walk. It keeps the longest match and, among
// equal ones, the nearest; a match shorter than 3 bytes is never used, so positions whose three
// bytes differ from the cursor's play no part. Every position is filed under the hash of its
// three bytes except the first two, whose hashes saw only one and two bytes.
//
// This finder gives the same answers faster. Positions are chained newest first by a hash of
// their three bytes and by one of their four bytes. Once the best match found reaches a longer
// context (4, 6, 8, ... 32 bytes), only positions sharing that many bytes can beat it, so the
// walk moves on to a chain that links each position to the next older one with the same bytes
// of that context. Beyond four bytes those links do not depend on the cursor; each is worked out
// the first time a walk needs it (from the chain one context shorter) and kept. Positions are
// visited nearest first at every level and only a longer match replaces the best, so ties still
// go to the nearest.
class match_finder {
public:
    match_finder(const std::uint8_t* data, std::uint32_t n) : data(data), n(n)
    {
        hash_bits = std::clamp<std::uint32_t>(std::bit_width(n), 10, 16);
        heads.assign(std::size_t(hashed_levels) << hash_bits, 0);
        // Positions within reach of the cursor (at most 8192 of them) never share a slot.
        ring_mask = std::min<std::uint32_t>(std::bit_ceil(n + 1), 1u << 13) - 1;
        ring.assign(std::size_t(levels) * (ring_mask + 1), 0);
    }

    // Files position s (the bytes below it end at s - 1); positions come in descending order.
    void insert(std::uint32_t s) noexcept
    {
        std::uint32_t* links = &ring[std::size_t(s & ring_mask) * levels];
        const std::uint64_t below = load64(data + s - 8);
        for (std::uint32_t l = 0; l < hashed_levels; ++l) {
            std::uint32_t& head = heads[(std::size_t(l) << hash_bits) + hash(l, below)];
            links[l] = head;
            head = s;
        }
    }

    struct result {
        std::uint32_t length;
        std::uint32_t source;
    };

    // The longest match for the bytes below cursor c among the filed positions within reach.
    result find(std::uint32_t c) noexcept
    {
        const std::uint32_t limit = c - cpk_verbatim_prefix; // a match stops above the verbatim prefix
        top = c + max_distance;
        std::uint32_t level = 0;
        std::uint32_t s = heads[hash(0, load64(data + c - 8))];
        result best{0, 0};
        while (s != 0 && s <= top) {
            // Only a candidate that also matches at byte `best` can be longer than the best.
            if (data[s - 1 - best.length] == data[c - 1 - best.length] && filed_under_cursor_hash(s, c)) {
                const std::uint32_t len = match_length(data + s, data + c, limit);
                if (len > best.length) {
                    best = {len, s};
                    if (len == limit)
                        break; // nothing can be longer
                    while (level + 1 < levels && context[level + 1] <= len)
                        ++level;
                }
            }
            s = next(level, s);
        }
        return best;
    }

private:
    // Levels below hashed_levels are hash chains kept as positions are filed; the others are
    // exact and worked out on demand.
    static constexpr std::uint32_t levels = 8;
    static constexpr std::uint32_t hashed_levels = 2;
    static constexpr std::uint32_t context[levels] = {3, 4, 6, 8, 12, 16, 24, 32};

    // Hash of the 3 or 4 bytes at the top of the eight bytes below a position.
    std::uint32_t hash(std::uint32_t level, std::uint64_t below) const noexcept
    {
        if constexpr (std::endian::native == std::endian::big)
            below = __builtin_bswap64(below);
        const std::uint64_t key = below >> (64 - 8 * context[level]);
        return static_cast<std::uint32_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - hash_bits));
    }

    // The next older position in s's chain at this level (0 when none is within reach).
    std::uint32_t next(std::uint32_t level, std::uint32_t s) noexcept
    {
        std::uint32_t& link = ring[std::size_t(s & ring_mask) * levels + level];
        if (level < hashed_levels)
            return link;
        // A worked-out link lies within 8191 bytes above s, and s itself stands for none. Values
        // left by earlier holders of the slot (all more than 8191 bytes higher) mean unknown.
        if (link == s)
            return 0;
        if (link > s && link - s <= max_offset)
            return link;
        // Along the shorter context's chain to the first position with the same longer context.
        // Beyond the current cursor's reach nothing counts, now or for any later (lower) cursor.
        const std::uint32_t k = context[level];
        std::uint32_t t = next(level - 1, s);
        while (t != 0 && t <= top && !same_context(t, s, k))
            t = next(level - 1, t);
        if (t == 0 || t > top)
            t = 0;
        link = t != 0 ? t : s;
        return t;
    }

    // Whether the k bytes below a and below b are equal (k at most 32).
    bool same_context(std::uint32_t a, std::uint32_t b, std::uint32_t k) const noexcept
    {
        for (std::uint32_t done = 0; done < k; done += 8) {
            std::uint64_t x = load64(data + a - 8 - done) ^ load64(data + b - 8 - done);
            if (k - done < 8) {
                if constexpr (std::endian::native == std::endian::big)
                    x = __builtin_bswap64(x);
                x >>= 64 - 8 * (k - done); // keep the highest k - done bytes
            }
            if (x != 0)
                return false;
        }
        return true;
    }

    // The first two positions filed, n and n - 1, sit under hashes of one and two bytes and are
    // only found when those equal the cursor's 15-bit hash.
    bool filed_under_cursor_hash(std::uint32_t s, std::uint32_t c) const noexcept
    {
        if (s + 1 < n)
            return true;
        const std::uint32_t cursor = ((data[c - 1] << 10) ^ (data[c - 2] << 5) ^ data[c - 3]) & 0x7FFF;
        const std::uint32_t filed = s == n ? data[n - 3] : ((data[n - 3] << 5) ^ data[n - 4]) & 0x7FFF;
        return cursor == filed;
    }

    const std::uint8_t* data;
    std::uint32_t n;
    std::uint32_t hash_bits;
    std::uint32_t ring_mask;
    std::uint32_t top = 0; // highest position within reach of the current cursor
    std::vector<std::uint32_t> heads;
    // For each position by its low bits, its link at every level.
    std::vector<std::uint32_t> ring;
};

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

    match_finder finder(data, n);
    std::uint32_t c = n; // data[c .. n-1] are encoded
    std::uint64_t min_estimate = 0xFFFFFFFF;
    while (c > prefix) {
        // Bytes left to encode (prefix included) plus bytes of the work buffer already used.
        const std::uint64_t estimate = c + prefix + out.full_bytes();
        min_estimate = std::min(min_estimate, estimate);

        if (c + 3 <= n)
            finder.insert(c + 3);
        match_finder::result best{0, 0};
        if (c - 3 >= prefix)
            best = finder.find(c);

        if (best.length < min_match) {
            --c;
            out.put(0, 1);
            out.put(data[c], 8);
            continue;
        }
        // File the positions the match covers, except those no later cursor can reach.
        const std::uint32_t next = c - best.length;
        for (std::uint32_t q = std::min(c + 2, next + max_distance); q >= next + 4; --q)
            finder.insert(q);
        out.put(1, 1);
        out.put(best.source - c - min_distance, 13);
        c = next;
        put_length(out, best.length);
    }

    // Three to six zero bytes stay in front of the stream for the reader's look-ahead.
    const std::uint64_t used = prefix + out.full_bytes() + 1;
    const std::uint64_t t = round_up(used + 3, 4);
    if (t >= n || min_estimate <= t)
        return std::nullopt;
    return bytes(work.end() - static_cast<std::ptrdiff_t>(t), work.end());
}

} // namespace qm
