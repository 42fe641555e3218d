// Packing into the backward LZ form (layout described in nds_lz_decomp.cpp).
//
// The source is encoded from its end towards its start, greedily: at each cursor the longest
// match among the positions above it (at most 4097 bytes away, at most 18 bytes long) wins, the
// nearest one among equally long ones; below 3 bytes a literal is emitted. Afterwards the encoder
// keeps verbatim the part of the data below the point where the stream saved the most, so that
// the in-place decoder's read position never passes its write position.

#include "lz/nds_lz.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace qm {
namespace {

constexpr std::size_t min_match = 3;
constexpr std::size_t max_match = 18;
// Farthest candidate: its position P may lie up to this far above the cursor c (distance field
// P - c - 2 fits 12 bits).
constexpr std::size_t max_gap = 4097;
// Keys of positions more than max_gap away are never followed, so max_gap slots keyed modulo
// max_gap never hand back a key that has been overwritten while it is still reachable.
constexpr std::size_t chain_slots = max_gap;
constexpr std::uint32_t footer_size = 8;
// Word A carries the compressed region in 24 bits.
constexpr std::size_t max_region = 0x1000000;

// Finds, for the bytes s[c - 1], s[c - 2], ... read downwards, the longest match (up to
// min(18, c) bytes) among the positions P in [c + 2, c + 4097], and among equally long ones the
// nearest. Positions are inserted once each, in falling order, and kept as keys e = n - P
// (0 means none), so every chain runs from the nearest position outwards.
//
// A position that matches w bytes or more agrees with the cursor on its first w bytes, so it sits
// in the chain of those w bytes' hash; other chain members are collisions, sorted out by
// comparing. Within a chain a candidate must be strictly longer than the best so far to win, so
// it must agree at the index of that length (tested first), and the walk ends once the longest
// possible length is reached. Two chains per position: one keyed by 3 bytes, which finds every
// match, and one keyed by 8, which serves when the first is long (many short matches, as in text
// of few letters): it finds the winner if some match reaches 8 bytes, and otherwise proves that
// none does, which lets the 3-byte walk stop at the first match of 7. Either way the choice is
// the one a full comparison of every position would make.
class match_finder {
public:
    struct match {
        std::size_t len = 0;
        std::size_t pos = 0;
    };

    explicit match_finder(byte_span src)
        : input(src), input_size(src.size()), short_chains(short_hash_bits), long_chains(long_hash_bits)
    {
    }

    void insert(std::size_t q)
    {
        const auto e = static_cast<std::uint32_t>(input_size - q);
        short_chains.link(short_hash(q), e);
        if (q + 1 >= long_width) // a position nearer than that to 0 can't match 8 bytes
            long_chains.link(long_hash(q), e);
    }

    // Needs c >= 3 and every position from c + 2 up to n - 1 inserted.
    match find(std::size_t c) const
    {
        const std::size_t cap = std::min(max_match, c);
        match best{min_match - 1, 0};
        std::size_t bound = cap;
        const std::uint32_t rest =
            walk(short_chains, short_chains.head[short_hash(c - 1)], c, bound, best, short_walk_budget);
        if (rest != 0) {
            if (cap >= long_width) {
                match longer{long_width - 1, 0};
                walk(long_chains, long_chains.head[long_hash(c - 1)], c, cap, longer, unlimited);
                if (longer.len >= long_width)
                    return longer;
                bound = long_width - 1;
            }
            if (best.len < bound)
                walk(short_chains, rest, c, bound, best, unlimited);
        }
        return best.len >= min_match ? best : match{};
    }

private:
    static constexpr std::size_t long_width = 8;
    static constexpr unsigned short_hash_bits = 16;
    static constexpr unsigned long_hash_bits = 13;
    static constexpr std::size_t short_walk_budget = 16;
    static constexpr std::size_t unlimited = std::numeric_limits<std::size_t>::max();

    struct chains {
        explicit chains(unsigned bits) : head(std::size_t{1} << bits, 0), chain(chain_slots, 0) {}
        void link(std::size_t h, std::uint32_t e)
        {
            chain[e % chain_slots] = head[h];
            head[h] = e;
        }
        std::vector<std::uint32_t> head;
        std::vector<std::uint32_t> chain;
    };

    // Follows a chain from key e, nearest first, keeping in `best` the nearest of the longest
    // matches longer than best.len. Stops at the chain's end, past the window, once `bound` is
    // reached (returning 0), or after `budget` candidates (returning the key to go on from).
    std::uint32_t walk(const chains& ch, std::uint32_t e, std::size_t c, std::size_t bound, match& best,
                       std::size_t budget) const
    {
        const std::uint8_t* const cur = input.data() + (c - 1);
        for (; e != 0; e = ch.chain[e % chain_slots]) {
            if (budget-- == 0)
                return e;
            const std::size_t p = input_size - e;
            if (p - c > max_gap)
                return 0;
            const std::uint8_t* const cand = input.data() + p;
            if (*(cand - best.len) != *(cur - best.len))
                continue;
            std::size_t len = 0;
            while (len < bound && *(cand - len) == *(cur - len))
                ++len;
            if (len > best.len) {
                best = {len, p};
                if (len == bound)
                    return 0;
            }
        }
        return 0;
    }

    // The bytes s[top - 2 .. top], and s[top - 7 .. top], hashed.
    std::size_t short_hash(std::size_t top) const
    {
        const std::uint32_t v = input[top] | (input[top - 1] << 8) | (input[top - 2] << 16);
        return (v * 0x9E3779B1u) >> (32 - short_hash_bits);
    }
    std::size_t long_hash(std::size_t top) const
    {
        const std::uint8_t* p = input.data() + (top - 7);
        const std::uint64_t v = std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 |
                                std::uint64_t{p[3]} << 24 | std::uint64_t{p[4]} << 32 |
                                std::uint64_t{p[5]} << 40 | std::uint64_t{p[6]} << 48 |
                                std::uint64_t{p[7]} << 56;
        return static_cast<std::size_t>((v * 0x9E3779B97F4A7C15ull) >> (64 - long_hash_bits));
    }

    byte_span input;
    std::size_t input_size;
    chains short_chains;
    chains long_chains;
};

// The point of the stream where consumed minus produced peaked last.
struct split_point {
    std::size_t consumed = 0;
    std::size_t produced = 0;
    std::size_t flag_from_end = 0; // the open group's flag byte, counted from the work buffer's end
    std::uint8_t flag = 0;
};

[[noreturn]] void fail(const char* why)
{
    throw std::runtime_error(std::string("nds_lz_comp failed - ") + why);
}

} // namespace

std::vector<std::uint8_t> nds_lz_comp(byte_span data)
{
    const std::size_t n = data.size();
    // Stored lengths are 32-bit and the stored form may exceed the data by up to 11 bytes.
    if (n > std::numeric_limits<std::uint32_t>::max() - 16)
        fail("input too large");

    // Worst case: every byte a literal, a flag byte per eight tokens, rounded to 4, plus footer.
    const std::size_t work_size = 4 * ((n + (n + 7) / 8 + 3) / 4) + footer_size;
    std::vector<std::uint8_t> work(work_size, 0);
    match_finder finder(data);

    std::size_t c = n;         // source bytes not yet encoded: s[c - 1] is next
    std::size_t w = work_size; // the stream grows downwards from the end of `work`
    std::size_t flag_pos = 0;
    unsigned bits_left = 0;
    std::size_t best_saving = 0;
    split_point split;

    while (c > 0) {
        if (bits_left == 0) {
            flag_pos = --w;
            bits_left = 8;
        }
        if (n - c > 2)
            finder.insert(c + 2);
        const match_finder::match m = c >= min_match ? finder.find(c) : match_finder::match{};
        if (m.len == 0) {
            --c;
            work[--w] = data[c];
        } else {
            // Insert the positions the match passes over, as the steps it replaces would have.
            for (std::size_t i = 0; i + 1 < m.len; ++i)
                finder.insert(c + 1 - i);
            const auto v = static_cast<std::uint16_t>(((m.len - min_match) << 12) | (m.pos - c - 2));
            work[w - 2] = static_cast<std::uint8_t>(v);
            work[w - 1] = static_cast<std::uint8_t>(v >> 8);
            work[flag_pos] |= static_cast<std::uint8_t>(1u << (bits_left - 1));
            w -= 2;
            c -= m.len;
        }
        --bits_left;

        const std::size_t consumed = n - c;
        const std::size_t produced = work_size - w;
        if (consumed >= produced)
            best_saving = std::max(best_saving, consumed - produced);
        if (produced + best_saving <= consumed)
            split = {consumed, produced, work_size - flag_pos, work[flag_pos]};
    }

    const std::size_t stream_size = work_size - w;
    if (stream_size > n)
        fail("compressed buffer larger than source buffer");

    // Everything below the split stays verbatim; tokens emitted after it are dropped, which for
    // the split's own group means restoring its flag byte as it was then.
    std::size_t prefix = 0;
    std::size_t kept = stream_size;
    if (split.consumed != n) {
        put_u8(work, work_size - split.flag_from_end, split.flag);
        prefix = n - split.consumed;
        kept = split.produced;
    }
    const std::size_t unpadded = prefix + kept;
    const std::size_t padding = (4 - unpadded % 4) % 4;
    const std::size_t total = unpadded + padding + footer_size;
    const std::size_t region = total - prefix;
    if (region >= max_region)
        fail("compressed region too large");

    std::vector<std::uint8_t> out(total, 0);
    std::copy_n(data.begin(), prefix, out.begin());
    std::copy_n(work.end() - static_cast<std::ptrdiff_t>(kept), kept,
                out.begin() + static_cast<std::ptrdiff_t>(prefix));
    put_le32(out, total - 8, static_cast<std::uint32_t>(((padding + footer_size) << 24) | region));
    put_le32(out, total - 4, static_cast<std::uint32_t>(n - total)); // modulo 2^32 by design
    return out;
}

} // namespace qm
