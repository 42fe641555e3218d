#include "vcdiff/match_finder.h"

#include <algorithm>
#include <bit>

namespace qm::vcdiff {

namespace {

constexpr std::size_t hash_length = 8;
// Every source position that is a multiple of this is indexed: any match of at least
// hash_length + source_step - 1 bytes is found.
constexpr std::size_t source_step = 8;
constexpr unsigned max_table_bits = 23;
constexpr std::uint32_t empty_slot = 0xFFFFFFFF;
// Source positions tried per lookup, nearest to the expected position first: text repeats
// short sequences a lot, and the right one is usually close to where the last copy ended.
constexpr std::size_t search_depth = 16;

// Shortest copy at the expected offset (cheap to address through the near cache), and the
// shortest repeat worth a RUN.
constexpr std::size_t min_offset_match = 4;
constexpr std::size_t min_run = 6;
// Copies shorter than hash_length come from the 4-byte index, and only when they cost less
// than the literal bytes they replace.
constexpr std::size_t short_length = 4;
constexpr std::size_t recent_slots = 768;
// A match at least this long is taken at once; a shorter one may give way to a longer match
// found a few positions further on.
constexpr std::size_t good_match = 32;
constexpr std::size_t look_ahead = source_step - 1;

// Byte order is fixed so that deltas do not depend on the host.
inline std::uint64_t load64(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

inline std::uint32_t hash8(const std::uint8_t* p, unsigned shift)
{
    return static_cast<std::uint32_t>((load64(p) * 0x9E3779B97F4A7C15ull) >> shift);
}

inline std::uint32_t load32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint32_t hash4(const std::uint8_t* p, unsigned shift)
{
    return static_cast<std::uint32_t>((load32(p) * 0x9E3779B97F4A7C15ull) >> shift);
}

unsigned varint_bytes(std::uint64_t v)
{
    unsigned n = 1;
    while (v >>= 7)
        ++n;
    return n;
}

unsigned table_bits(std::size_t entries)
{
    unsigned bits = 10;
    while (bits < max_table_bits && (std::size_t{1} << bits) < entries)
        ++bits;
    return bits;
}

// Number of equal bytes at a and b, at most n.
std::size_t match_forward(const std::uint8_t* a, const std::uint8_t* b, std::size_t n)
{
    std::size_t i = 0;
    while (n - i >= 8) {
        const std::uint64_t diff = load64(a + i) ^ load64(b + i);
        if (diff)
            return i + static_cast<std::size_t>(std::countr_zero(diff)) / 8;
        i += 8;
    }
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// Number of equal bytes just before a and b, at most n.
std::size_t match_backward(const std::uint8_t* a, const std::uint8_t* b, std::size_t n)
{
    std::size_t i = 0;
    while (i < n && a[-1 - static_cast<std::ptrdiff_t>(i)] == b[-1 - static_cast<std::ptrdiff_t>(i)])
        ++i;
    return i;
}

std::uint64_t distance(std::uint64_t a, std::int64_t b)
{
    const std::int64_t d = static_cast<std::int64_t>(a) - b;
    return static_cast<std::uint64_t>(d < 0 ? -d : d);
}

} // namespace

match_finder::match_finder(byte_span source, byte_span target) : source(source), target(target)
{
    if (source.size() >= hash_length) {
        const unsigned bits = table_bits(source.size() / source_step);
        source_shift = 64 - bits;
        // Counting sort of the sampled positions by hash, ascending within each bucket.
        const std::size_t count = (source.size() - hash_length) / source_step + 1;
        std::vector<std::uint32_t> hashes(count);
        source_buckets.assign((std::size_t{1} << bits) + 1, 0);
        for (std::size_t k = 0; k < count; ++k) {
            hashes[k] = hash8(source.data() + k * source_step, source_shift);
            ++source_buckets[hashes[k] + 1];
        }
        for (std::size_t h = 1; h < source_buckets.size(); ++h)
            source_buckets[h] += source_buckets[h - 1];
        source_positions.resize(count);
        // The bucket starts double as fill cursors; each ends where the next began.
        for (std::size_t k = 0; k < count; ++k)
            source_positions[source_buckets[hashes[k]]++] = static_cast<std::uint32_t>(k * source_step);
        for (std::size_t h = source_buckets.size() - 1; h > 0; --h)
            source_buckets[h] = source_buckets[h - 1];
        source_buckets[0] = 0;
    }
    const unsigned bits = table_bits(std::min<std::size_t>(target.size(), std::size_t{1} << 22));
    target_shift = 64 - bits;
    target_table.assign(std::size_t{1} << bits, empty_slot);
    const unsigned short_bits = std::min(bits, 20u);
    short_shift = 64 - short_bits;
    short_table.assign(std::size_t{1} << short_bits, empty_slot);
    recent_copies.assign(recent_slots, empty_slot);
}

void match_finder::remember_target(std::size_t p, std::size_t end)
{
    if (end - p >= hash_length)
        target_table[hash8(target.data() + p, target_shift)] = static_cast<std::uint32_t>(p);
    if (end - p >= short_length)
        short_table[hash4(target.data() + p, short_shift)] = static_cast<std::uint32_t>(p);
}

match_finder::candidate match_finder::short_target_match(std::size_t p, std::size_t literal_start,
                                                         std::size_t begin, std::size_t end) const
{
    const std::uint8_t* const tgt = target.data();
    const std::uint32_t c = short_table[hash4(tgt + p, short_shift)];
    if (c == empty_slot || c < begin || c >= p || load32(tgt + c) != load32(tgt + p))
        return {};
    const std::size_t forward =
        short_length + match_forward(tgt + c + short_length, tgt + p + short_length, end - p - short_length);
    const std::size_t back =
        match_backward(tgt + c, tgt + p, std::min<std::size_t>(c - begin, p - literal_start));
    const std::size_t length = back + forward;
    const std::size_t from = c - back;
    // One opcode byte plus the address: one byte if the same address was used lately,
    // otherwise its distance back from here.
    const std::size_t cost =
        1 + (recent_copies[from % recent_slots] == from ? 1 : varint_bytes(p - back - from));
    if (length <= cost)
        return {};
    return {p - back, length, from, edit::kind::copy_target};
}

match_finder::candidate match_finder::source_match(std::size_t p, std::size_t literal_start,
                                                   std::size_t end) const
{
    const std::uint8_t* const src = source.data();
    const std::uint8_t* const tgt = target.data();
    const std::size_t room = end - p;
    const std::uint64_t key = load64(tgt + p);
    const std::int64_t expected = static_cast<std::int64_t>(p) + source_offset;
    candidate best;
    auto consider = [&](std::uint32_t c) {
        if (load64(src + c) != key)
            return;
        const std::size_t forward =
            hash_length + match_forward(src + c + hash_length, tgt + p + hash_length,
                                        std::min(room, source.size() - c) - hash_length);
        const std::size_t back =
            match_backward(src + c, tgt + p, std::min<std::size_t>(c, p - literal_start));
        // Candidates come nearest first, so on equal length the nearer one stays.
        if (back + forward > best.length)
            best = {p - back, back + forward, c - back, edit::kind::copy_source};
    };
    const std::uint32_t h = hash8(tgt + p, source_shift);
    const std::uint32_t* const first = source_positions.data() + source_buckets[h];
    const std::uint32_t* const last = source_positions.data() + source_buckets[h + 1];
    if (static_cast<std::size_t>(last - first) <= search_depth) {
        for (const std::uint32_t* c = first; c != last; ++c)
            consider(*c);
        return best;
    }
    // Walk outwards from the expected position, taking the nearer side each time.
    const std::uint32_t* right =
        std::lower_bound(first, last, static_cast<std::uint64_t>(std::max<std::int64_t>(expected, 0)),
                         [](std::uint32_t a, std::uint64_t b) { return a < b; });
    const std::uint32_t* left = right;
    for (std::size_t tried = 0; tried < search_depth && (left != first || right != last); ++tried) {
        if (right == last || (left != first && distance(left[-1], expected) <= distance(*right, expected)))
            consider(*--left);
        else
            consider(*right++);
    }
    return best;
}

match_finder::candidate match_finder::best_at(std::size_t p, std::size_t literal_start, std::size_t begin,
                                              std::size_t end) const
{
    const std::uint8_t* const src = source.data();
    const std::uint8_t* const tgt = target.data();
    const std::size_t room = end - p;
    candidate best;

    // The same offset as the last long source copy.
    const std::int64_t expected = static_cast<std::int64_t>(p) + source_offset;
    if (expected >= 0 && static_cast<std::uint64_t>(expected) < source.size()) {
        const std::size_t s = static_cast<std::size_t>(expected);
        const std::size_t n = match_forward(src + s, tgt + p, std::min(room, source.size() - s));
        if (n >= min_offset_match)
            best = {p, n, s, edit::kind::copy_source};
    }

    // A repeated byte.
    if (room >= min_run && tgt[p] == tgt[p + 1] && tgt[p] == tgt[p + 2] && tgt[p] == tgt[p + 3]) {
        std::size_t n = 4;
        while (n < room && tgt[p + n] == tgt[p])
            ++n;
        if (n >= min_run && n > best.length)
            best = {p, n, tgt[p], edit::kind::run};
    }

    if (room < hash_length)
        return best;

    if (!source_buckets.empty()) {
        const candidate m = source_match(p, literal_start, end);
        if (m.length > best.length)
            best = m;
    }

    const std::uint32_t c = target_table[hash8(tgt + p, target_shift)];
    if (c != empty_slot && c >= begin && c < p && load64(tgt + c) == load64(tgt + p)) {
        // The copy may overlap the bytes it produces; the target holds them already.
        const std::size_t forward =
            hash_length + match_forward(tgt + c + hash_length, tgt + p + hash_length, room - hash_length);
        const std::size_t back =
            match_backward(tgt + c, tgt + p, std::min<std::size_t>(c - begin, p - literal_start));
        if (back + forward > best.length)
            best = {p - back, back + forward, c - back, edit::kind::copy_target};
    }
    if (best.length < hash_length) {
        const candidate m = short_target_match(p, literal_start, begin, end);
        if (m.length > best.length)
            best = m;
    }
    return best;
}

void match_finder::parse(std::size_t begin, std::size_t end, std::vector<edit>& edits)
{
    auto literal = [&](std::size_t from, std::size_t to) {
        if (to > from)
            edits.push_back({edit::kind::add, static_cast<std::uint32_t>(to - from), from});
    };
    std::size_t literal_start = begin;
    std::size_t p = begin;
    while (p < end) {
        candidate m = best_at(p, literal_start, begin, end);
        if (m.length == 0) {
            remember_target(p, end);
            ++p;
            continue;
        }
        // A short match may be a chance hit in repetitive data while the real continuation
        // starts a few bytes on (source positions are sampled, not all indexed).
        if (m.length < good_match) {
            for (std::size_t k = 1; k <= look_ahead && p + k < end; ++k) {
                // Only a rival that overlaps m competes with it; one that starts after m
                // ends can still be taken after it.
                const candidate n = best_at(p + k, literal_start, begin, end);
                if (n.start < m.start + m.length && n.length > m.length &&
                    n.start + n.length > m.start + m.length)
                    m = n;
            }
        }
        for (std::size_t q = p; q < m.start; ++q)
            remember_target(q, end);
        literal(literal_start, m.start);
        edits.push_back({m.what, static_cast<std::uint32_t>(m.length), m.from});
        if (m.what == edit::kind::copy_source && m.length >= good_match)
            source_offset = static_cast<std::int64_t>(m.from) - static_cast<std::int64_t>(m.start);
        if (m.what == edit::kind::copy_target)
            recent_copies[m.from % recent_slots] = static_cast<std::uint32_t>(m.from);
        p = literal_start = m.start + m.length;
    }
    literal(literal_start, end);
}

} // namespace qm::vcdiff
