#pragma once
// Finds how a target can be built from a source and from itself: a greedy parse into
// literal stretches, repeated bytes and copies, window by window.

#include "common/bytes.h"

#include <cstdint>
#include <vector>

namespace qm::vcdiff {

struct edit {
    enum class kind : std::uint8_t { add, run, copy_source, copy_target };
    kind what;
    std::uint32_t size;
    // add: target position of the literal bytes; run: the repeated byte;
    // copy_source: source position; copy_target: target position (before the copy's own).
    std::uint64_t from;
};

class match_finder {
public:
    // Indexes the source once; the spans must outlive the finder.
    match_finder(byte_span source, byte_span target);

    // Appends the edits that produce target[begin, end) to `edits`. Target copies stay within
    // [begin, end); windows must be parsed in order.
    void parse(std::size_t begin, std::size_t end, std::vector<edit>& edits);

private:
    struct candidate {
        std::size_t start = 0; // first target byte covered
        std::size_t length = 0;
        std::uint64_t from = 0;
        edit::kind what = edit::kind::add;
    };

    // The longest copy or repeat covering target position p; it may start earlier, back to
    // literal_start. Looks only, changes nothing.
    candidate best_at(std::size_t p, std::size_t literal_start, std::size_t begin, std::size_t end) const;
    candidate source_match(std::size_t p, std::size_t literal_start, std::size_t end) const;
    candidate short_target_match(std::size_t p, std::size_t literal_start, std::size_t begin,
                                 std::size_t end) const;
    // Records target position p (in a window ending at end) for later copies.
    void remember_target(std::size_t p, std::size_t end);

    byte_span source;
    byte_span target;
    // Source positions by hash of the 8 bytes there, sampled every few positions: bucket h
    // holds source_positions[source_buckets[h], source_buckets[h + 1]), in ascending order,
    // so that the positions nearest to where a match is expected can be tried first.
    std::vector<std::uint32_t> source_buckets;
    std::vector<std::uint32_t> source_positions;
    unsigned source_shift = 64;
    // Target positions by hash of 8 bytes and of 4 bytes, for copies from earlier in the same
    // window. Only positions left as literals are recorded: copied stretches are found where
    // they came from, which keeps repeated copies pointing at one address.
    std::vector<std::uint32_t> target_table;
    unsigned target_shift = 64;
    std::vector<std::uint32_t> short_table;
    unsigned short_shift = 64;
    // Target positions recently copied from, by position modulo 768: copying from one of
    // them again is likely to cost a single address byte.
    std::vector<std::uint32_t> recent_copies;
    // Offset from target to source position of the last source copy: edits seldom move the
    // rest of the data, so the bytes after a change are first looked for at the same offset.
    std::int64_t source_offset = 0;
};

} // namespace qm::vcdiff
