#include "cpk/cpk_compress.h"

#include "cpk/cpk_decompress.h"

#include <algorithm>
#include <array>
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
// Bits gather in a register and leave it a whole byte at a time; flush writes the last, partly
// filled byte with its free low bits zero.
class bit_writer {
public:
    bit_writer(std::uint8_t* buffer, std::size_t stream_top) : out(buffer + stream_top) {}

    void put(std::uint32_t value, unsigned n) noexcept
    {
        pending = (pending << n) | value;
        pending_bits += n;
        bits += n;
        while (pending_bits >= 8) {
            pending_bits -= 8;
            *--out = static_cast<std::uint8_t>(pending >> pending_bits);
        }
    }

    void flush() noexcept
    {
        if (pending_bits != 0)
            *--out = static_cast<std::uint8_t>(pending << (8 - pending_bits));
        pending_bits = 0;
    }

    // Stream bytes before the one holding the latest bit (that partly filled byte excluded).
    std::uint64_t full_bytes() const noexcept { return bits == 0 ? 0 : (bits - 1) / 8; }
    // The last byte written.
    std::uint8_t* position() const noexcept { return out; }

private:
    std::uint8_t* out;
    std::uint64_t pending = 0; // the low pending_bits bits are not written yet
    unsigned pending_bits = 0;
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
// This finder gives the same answers faster. Positions are chained newest first, level by level,
// by a hash of their first 3, 4, 8, 16 and 32 bytes (the bytes below them, going down). Once the
// best match found reaches a level's length, only positions sharing that many bytes can beat it,
// so the walk moves on to that level's chain from where it stands. The two short levels are kept
// as positions are filed; a longer level files the positions within reach the first time a walk
// needs it, then keeps up as the cursor moves down, so data with only short matches never pays
// for it. Positions are visited nearest first at every level and only a longer match replaces the
// best, so ties still go to the nearest.
//
// A cursor that starts with a run of r equal bytes x can only share more than r bytes with a
// position whose own run of x is exactly r long and stops at the same byte. A separate run level
// chains positions by (byte, run length, byte below the run), so such a cursor first walks only
// those; when none is within reach, the answer shares exactly the run (or less), and the walk
// below stops at the first position sharing all of it.
//
// Runs of one byte would make the walk visit every position of every long enough run. When the
// cursor starts with r equal bytes x, a position inside a run of x shares min(r, its own run
// length) bytes with it unless both run lengths are r; so within one run only the position whose
// run length is r (or, when the run is shorter, its top) can give the run's best, and the walk
// steps over the rest of the run.
constexpr std::uint32_t finder_levels = 5;

// The finder's tables, kept by each thread from one file to the next: allocating them afresh
// costs more than the work on a small file. Links and run lengths are written before they are
// read, so only the heads need clearing.
struct finder_tables {
    std::vector<std::uint32_t> heads[finder_levels];
    std::vector<std::uint32_t> links[finder_levels];
    std::vector<std::uint32_t> run_heads;
    std::vector<std::uint32_t> run_links;
    std::vector<std::uint8_t> down;
    std::vector<std::uint8_t> up;
    std::vector<std::uint32_t> repeat_heads; // for stored_for_certain
    std::vector<std::uint64_t> seen_hashes;
    std::vector<std::uint32_t> repeat_links;
    bytes work; // the compressor's output buffer

    // Lets go of what one unusually large file made grow.
    void trim()
    {
        constexpr std::size_t keep = 4u << 20;
        if (work.capacity() > keep)
            bytes().swap(work);
        if (down.capacity() > keep) {
            std::vector<std::uint8_t>().swap(down);
            std::vector<std::uint8_t>().swap(up);
        }
    }
};

class match_finder {
public:
    match_finder(const std::uint8_t* data, std::uint32_t n, finder_tables& tables)
        : data(data), n(n), heads(tables.heads), links(tables.links), run_heads(tables.run_heads),
          run_links(tables.run_links), down(tables.down), up(tables.up)
    {
        // At most 16384 slots: only the 8192 positions within reach matter, and clearing a larger
        // table for each file costs more than the collisions it would save.
        hash_bits = std::clamp<std::uint32_t>(std::bit_width(n), 10, 14);
        // Positions within reach of the cursor (at most 8192 of them) never share a slot.
        ring_mask = std::min<std::uint32_t>(std::bit_ceil(n + 1), 1u << 13) - 1;
        for (std::uint32_t l = 0; l < levels; ++l)
            filled[l] = n + 1;
        for (std::uint32_t l = 0; l < kept_levels; ++l)
            prepare(l);
    }

    // Files position s in the kept levels; positions come in descending order.
    void insert(std::uint32_t s) noexcept
    {
        const std::uint64_t below = load64(data + s - 8);
        for (std::uint32_t l = 0; l < kept_levels; ++l) {
            std::uint32_t& head = heads[l][short_hash(l, below)];
            links[l][s & ring_mask] = head;
            head = s;
        }
    }

    struct result {
        std::uint32_t length;
        std::uint32_t source;
    };

    // The longest match for the bytes below cursor c among the filed positions within reach.
    result find(std::uint32_t c)
    {
        const std::uint32_t limit = c - cpk_verbatim_prefix; // a match stops above the verbatim prefix
        top = c + max_distance;
        std::uint32_t level = 0;
        result best{0, 0};
        const std::uint32_t run = cursor_run(c);
        const bool cursor_in_run = run >= min_match && run < limit && run < run_cap;
        const std::uint8_t x = data[c - 1];
        std::uint32_t enough = limit; // no match can be longer than this
        std::uint32_t s;
        if (cursor_in_run) {
            // Only positions whose run of x is exactly as long as the cursor's and stops at the
            // same byte can share more than the run; the run level files exactly those together.
            fill_runs(c);
            s = run_heads[run_hash(x, run, data[c - 1 - run])];
            for (; s != 0 && s <= top; s = run_links[s & ring_mask]) {
                if (data[s - 1 - best.length] != data[c - 1 - best.length] || !filed_under_cursor_hash(s, c))
                    continue;
                const std::uint32_t len = match_length(data + s, data + c, limit);
                if (len <= best.length || len <= run)
                    continue; // a hash collision
                best = {len, s};
                if (len == limit)
                    return best;
                std::uint32_t to = 0;
                while (to + 1 < levels && context[to + 1] <= len)
                    ++to;
                if (context[to] > run) {
                    // That level files only positions sharing more than the run: go on there.
                    level = to;
                    if (level >= kept_levels)
                        fill(level, c);
                    s = links[level][s & ring_mask];
                    break;
                }
            }
            if (best.length == 0) {
                // Nothing shares more than the run, so the nearest position sharing all of it
                // is the answer; the walk below stops there.
                enough = run;
                s = heads[0][short_hash(0, load64(data + c - 8))];
            } else if (level == 0) {
                return best;
            }
        } else {
            s = heads[0][short_hash(0, load64(data + c - 8))];
        }
        while (s != 0 && s <= top) {
            std::uint32_t candidate = s;
            std::uint32_t len = 0;
            std::uint32_t resume = s; // the walk goes on from this position's link
            if (cursor_in_run && context[level] <= run && data[s - 1] == x && down[s] >= context[level] &&
                down[s] + up[s] < run_cap && s + up[s] <= top && s + up[s] + 1 < n) {
                // s is the first position of its run that the walk reaches; the run ends at t.
                const std::uint32_t t = s + up[s];
                resume = t;
                if (down[s] > run) {
                    len = run; // the whole run shares exactly the cursor's run; s is the nearest
                } else if (s + (run - down[s]) <= t) {
                    candidate = s + (run - down[s]); // same run length as the cursor: compare on
                    if (data[candidate - 1 - best.length] == data[c - 1 - best.length])
                        len = match_length(data + candidate, data + c, limit);
                } else {
                    candidate = t; // the run is shorter than the cursor's: its top shares most
                    len = down[t];
                }
            } else if (data[s - 1 - best.length] == data[c - 1 - best.length] &&
                       filed_under_cursor_hash(s, c)) {
                // Only a candidate that also matches at byte `best` can be longer than the best.
                len = match_length(data + s, data + c, limit);
            }
            if (len > best.length) {
                best = {len, candidate};
                if (len >= enough)
                    break; // nothing can be longer
                std::uint32_t to = level;
                while (to + 1 < levels && context[to + 1] <= len)
                    ++to;
                if (to != level) {
                    level = to;
                    resume = candidate;
                    if (level >= kept_levels)
                        fill(level, c);
                }
            }
            s = links[level][resume & ring_mask];
        }
        return best;
    }

private:
    static constexpr std::uint32_t levels = finder_levels;
    static constexpr std::uint32_t kept_levels = 2;
    static constexpr std::uint32_t context[levels] = {3, 4, 8, 16, 32};
    static constexpr std::uint32_t run_cap = 255;
    static constexpr std::uint64_t mix = 0x9E3779B97F4A7C15ull;
    static constexpr std::uint64_t mix2 = 0xC2B2AE3D27D4EB4Full;
    static constexpr std::uint64_t mix3 = 0x165667B19E3779F9ull;
    static constexpr std::uint64_t mix4 = 0xD6E8FEB86659FD93ull;

    // The run length at cursor c; the run tables are made the first time a cursor needs them.
    std::uint32_t cursor_run(std::uint32_t c)
    {
        if (data[c - 2] != data[c - 1] || data[c - 3] != data[c - 1])
            return 1; // the run does not matter below three bytes
        if (!runs_measured)
            measure_runs();
        return down[c];
    }

    // down[q]: equal bytes from data[q - 1] downwards; up[q]: positions above q whose first byte
    // continues that run. Both stop at run_cap.
    void measure_runs()
    {
        runs_measured = true;
        down.resize(std::size_t(n) + 1);
        up.resize(std::size_t(n) + 1);
        up[n] = 0;
        // Only the length of the current run is carried from one position to the next, with masks
        // rather than branches: whether two bytes are equal is as good as random in such data.
        const std::uint8_t* const d = data;
        std::uint8_t* const down_at = down.data();
        std::uint8_t* const up_at = up.data();
        std::uint32_t length = 1;
        down_at[1] = 1;
        for (std::uint32_t q = 2; q <= n; ++q) {
            const std::uint32_t same = d[q - 1] == d[q - 2];
            length = (length & (0u - same)) + 1;
            down_at[q] = static_cast<std::uint8_t>(std::min(length, run_cap));
        }
        length = 0;
        for (std::uint32_t q = n - 1; q >= 1; --q) {
            const std::uint32_t same = d[q] == d[q - 1];
            length = (length + 1) & (0u - same);
            up_at[q] = static_cast<std::uint8_t>(std::min(length, run_cap));
        }
    }

    void prepare(std::uint32_t level)
    {
        heads[level].assign(std::size_t(1) << hash_bits, 0);
        links[level].resize(std::size_t(ring_mask) + 1);
        prepared[level] = true;
    }

    static constexpr std::uint32_t no_byte = 256; // a run reaching the start of the file

    std::uint32_t run_hash(std::uint32_t byte, std::uint32_t length, std::uint32_t below) const noexcept
    {
        const std::uint64_t key = byte | length << 8 | std::uint64_t{below} << 16;
        return static_cast<std::uint32_t>(((key + 1) * mix) >> (64 - hash_bits));
    }

    // Files on the run level, under (byte, run length, byte below the run), every position within
    // reach of cursor c that starts with a run of 3 to 254 equal bytes and that it has not seen yet.
    void fill_runs(std::uint32_t c) noexcept
    {
        if (!runs_prepared) {
            run_heads.assign(std::size_t(1) << hash_bits, 0);
            run_links.resize(std::size_t(ring_mask) + 1);
            runs_prepared = true;
        }
        std::uint32_t q = std::min(runs_filled - 1, top);
        if (q < c + 3)
            return;
        for (;; --q) {
            const std::uint32_t length = down[q];
            if (length >= min_match && length < run_cap) {
                const std::uint32_t below = length < q ? data[q - 1 - length] : no_byte;
                std::uint32_t& head = run_heads[run_hash(data[q - 1], length, below)];
                run_links[q & ring_mask] = head;
                head = q;
            }
            if (q == c + 3)
                break;
        }
        runs_filled = c + 3;
    }

    // Hash of the 3 or 4 bytes at the top of the eight bytes below a position.
    std::uint32_t short_hash(std::uint32_t level, std::uint64_t below) const noexcept
    {
        if constexpr (std::endian::native == std::endian::big)
            below = __builtin_bswap64(below);
        const std::uint64_t key = below >> (64 - 8 * context[level]);
        return static_cast<std::uint32_t>((key * mix) >> (64 - hash_bits));
    }

    // Files on a long level every position within reach of cursor c that it has not seen yet.
    void fill(std::uint32_t level, std::uint32_t c) noexcept
    {
        if (!prepared[level])
            prepare(level);
        std::uint32_t q = std::min(filled[level] - 1, top);
        if (q < c + 3)
            return;
        std::uint32_t* const head_table = heads[level].data();
        std::uint32_t* const link_ring = links[level].data();
        const std::uint32_t shift = 64 - hash_bits;
        const auto file_all = [&](auto hash) {
            for (;; --q) {
                std::uint32_t& head = head_table[hash(q) >> shift];
                link_ring[q & ring_mask] = head;
                head = q;
                if (q == c + 3)
                    break;
            }
        };
        // The level's 8, 16 or 32 bytes below q, read as whole words and mixed: no position's
        // hash waits for another's.
        const std::uint8_t* const d = data;
        switch (context[level]) {
        case 8:
            file_all([d](std::uint32_t p) { return load64(d + p - 8) * mix; });
            break;
        case 16:
            file_all([d](std::uint32_t p) { return load64(d + p - 8) * mix + load64(d + p - 16) * mix2; });
            break;
        default:
            file_all([d](std::uint32_t p) {
                return (load64(d + p - 8) * mix + load64(d + p - 16) * mix2) ^
                       (load64(d + p - 24) * mix3 + load64(d + p - 32) * mix4);
            });
        }
        filled[level] = c + 3;
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
    std::vector<std::uint32_t> (&heads)[levels];
    std::vector<std::uint32_t> (&links)[levels]; // per level, each position's next older one, by its low bits
    std::vector<std::uint32_t>& run_heads;
    std::vector<std::uint32_t>& run_links;
    std::vector<std::uint8_t>& down;
    std::vector<std::uint8_t>& up;
    bool runs_measured = false;
    bool prepared[levels] = {};
    std::uint32_t filled[levels]; // lowest position filed on each level (n + 1: none)
    bool runs_prepared = false;
    std::uint32_t runs_filled = n + 1; // lowest position filed on the run level
};

// Whether the file is sure to be stored as it is, found without compressing it (most files that
// do not shrink are told apart this way at a fraction of the cost).
//
// The compressed form takes B bits: 9 per literal, and for a match of length L at least 16 (a
// flag bit, 13 offset bits, 2 or more length bits) where its L literals would take 9L. A match of
// length L at cursor c with source s makes each of the L - 2 cursors c, c - 1, ... c - L + 3 start
// with the same three bytes as a position 3 to 8194 bytes above it (s, s - 1, ...); call such
// cursors flagged, F of them in all. The matches' cursors are disjoint, and 9L - 16 is at most
// 11 (L - 2), so B >= 9 (n - 256) - 11 F. The form's length t is at least 256 + B / 8 + 3, so
// when 11 F <= (n - 256) + 24, B >= 8 (n - 256 - 3) and t >= n: the file is stored. Counting F
// only needs each position's nearest equal three bytes above it; the count stops as soon as it
// is too high to decide anything.
// Counting F exactly needs each position's nearest equal three bytes above it. A cheaper count
// that can only be larger does as well when it stays low enough: here, the positions whose three
// bytes hash to a value already seen anywhere above them. In random data this rarely happens
// (a table of 2^b bits is hit by chance about m^2 / 2^(b+1) times in m positions), and each
// position costs one bit test with nothing to wait for from the one before.
bool few_repeats_at_all(const std::uint8_t* data, std::uint32_t n, std::uint64_t most_flagged,
                        finder_tables& tables)
{
    // 64 bits or more per position (so chance hits stay under 1 %), at most 2^20.
    const std::uint32_t bits = std::clamp<std::uint32_t>(std::bit_width(n - cpk_verbatim_prefix) + 6, 12, 20);
    std::vector<std::uint64_t>& seen = tables.seen_hashes;
    seen.assign(std::size_t(1) << (bits - 6), 0);
    std::uint64_t flagged = 0;
    for (std::uint32_t q = n; q >= cpk_verbatim_prefix + 3; --q) {
        const std::uint32_t key =
            std::uint32_t{data[q - 1]} | std::uint32_t{data[q - 2]} << 8 | std::uint32_t{data[q - 3]} << 16;
        const std::uint32_t h = (key * 0x9E3779B1u) >> (32 - bits);
        const std::uint64_t bit = std::uint64_t{1} << (h & 63);
        std::uint64_t& word = seen[h >> 6];
        flagged += (word & bit) != 0;
        word |= bit;
        if (flagged > most_flagged)
            return false;
    }
    return true;
}

// Most files do shrink, and show it within their last few thousand bytes, where the compressor
// starts: there, most positions start with three bytes that occur again above them, far more
// than the count above allows a file sure to be stored. Such a file goes to the compressor at
// once, before the tables of the checks below are cleared for it. (Not being certain is always a
// safe answer: the compressor then decides.) In random data about 3 % of the positions probed hit
// a bit set by chance (2048 positions in 2^15 bits), far from the quarter that ends the probe.
bool repeats_at_once(const std::uint8_t* data, std::uint32_t n) noexcept
{
    constexpr std::uint32_t probe = 2048;
    constexpr std::uint32_t bits = 15;
    std::array<std::uint64_t, (std::size_t(1) << bits) / 64> seen{};
    const std::uint32_t lowest = std::max(cpk_verbatim_prefix + 3, n > probe ? n - probe : 0);
    std::uint32_t flagged = 0;
    for (std::uint32_t q = n; q >= lowest; --q) {
        const std::uint32_t key =
            std::uint32_t{data[q - 1]} | std::uint32_t{data[q - 2]} << 8 | std::uint32_t{data[q - 3]} << 16;
        const std::uint32_t h = (key * 0x9E3779B1u) >> (32 - bits);
        const std::uint64_t bit = std::uint64_t{1} << (h & 63);
        std::uint64_t& word = seen[h >> 6];
        flagged += (word & bit) != 0;
        word |= bit;
    }
    return flagged > (n - lowest + 1) / 4;
}

bool stored_for_certain(const std::uint8_t* data, std::uint32_t n, finder_tables& tables)
{
    constexpr std::uint32_t prefix = cpk_verbatim_prefix;
    if (repeats_at_once(data, n))
        return false;
    const std::uint64_t most_flagged = (std::uint64_t{n} - prefix + 24) / 11;
    // Chance hits stay well below the bound only up to about 2^21 / 11 positions.
    if (n - prefix <= (1u << 17) && few_repeats_at_all(data, n, most_flagged, tables))
        return true;
    const std::uint32_t bits = std::clamp<std::uint32_t>(std::bit_width(n), 10, 16);
    std::vector<std::uint32_t>& heads = tables.repeat_heads;
    std::vector<std::uint32_t>& links = tables.repeat_links;
    heads.assign(std::size_t(1) << bits, 0);
    links.resize(1u << 14); // more slots than positions within 8194 bytes
    constexpr std::uint32_t mask = (1u << 14) - 1;
    const auto three = [data](std::uint32_t q) {
        return std::uint32_t{data[q - 1]} | std::uint32_t{data[q - 2]} << 8 |
               std::uint32_t{data[q - 3]} << 16;
    };
    std::uint64_t flagged = 0;
    for (std::uint32_t q = n; q >= prefix + 3; --q) {
        const std::uint32_t key = three(q);
        std::uint32_t& head = heads[(key * 0x9E3779B1u) >> (32 - bits)];
        for (std::uint32_t p = head; p != 0 && p - q <= max_distance; p = links[p & mask]) {
            if (three(p) == key) {
                if (++flagged > most_flagged)
                    return false;
                break;
            }
        }
        links[q & mask] = head;
        head = q;
    }
    return true;
}

} // namespace

std::optional<bytes> cpk_compress(byte_span input)
{
    // Archive tables hold 32-bit sizes; a file too large for them is not the compressor's to refuse.
    if (input.size() < cpk_min_compress_size || input.size() > 0xFFFFFFFFu)
        return std::nullopt;
    const std::uint8_t* data = input.data();
    const auto n = static_cast<std::uint32_t>(input.size());
    const std::uint32_t prefix = cpk_verbatim_prefix;

    // Room for the worst case, a literal (9 bits) per byte, below the verbatim prefix.
    const std::size_t e = (std::size_t(n - prefix) * 9 + 7) / 8 + prefix;
    thread_local finder_tables tables;
    struct trim_after {
        finder_tables& t;
        ~trim_after() { t.trim(); }
    } trim{tables};
    if (stored_for_certain(data, n, tables))
        return std::nullopt;
    bytes& work = tables.work;
    work.resize(e);
    std::memcpy(work.data() + e - prefix, data, prefix);
    bit_writer out(work.data(), e - prefix);

    match_finder finder(data, n, tables);
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
            out.put(data[c], 9); // a 0 bit, then the byte
            continue;
        }
        // File the positions the match covers, except those no later cursor can reach.
        const std::uint32_t next = c - best.length;
        for (std::uint32_t q = std::min(c + 2, next + max_distance); q >= next + 4; --q)
            finder.insert(q);
        out.put((1u << 13) | (best.source - c - min_distance), 14); // a 1 bit, then the offset
        c = next;
        put_length(out, best.length);
    }

    out.flush();
    // Three to six zero bytes stay in front of the stream for the reader's look-ahead.
    const std::uint64_t used = prefix + out.full_bytes() + 1;
    const std::uint64_t t = round_up(used + 3, 4);
    if (t >= n || min_estimate <= t)
        return std::nullopt;
    std::fill(work.data() + (e - t), out.position(), std::uint8_t{0});
    return bytes(work.end() - static_cast<std::ptrdiff_t>(t), work.end());
}

} // namespace qm
