#include "vcdiff/code_table.h"

namespace qm::vcdiff {

namespace {

// Builds the RFC 3284 default table (section 5.6) in opcode order:
//   0          RUN, size 0
//   1..18      ADD, size 0 then 1..17
//   19..162    COPY, size 0 then 4..18, for each of the 9 modes
//   163..234   ADD 1..4 followed by COPY 4..6, modes 0..5
//   235..246   ADD 1..4 followed by COPY 4, modes 6..8
//   247..255   COPY 4 followed by ADD 1, modes 0..8
code_table build_default()
{
    code_table t{};
    unsigned op = 0;
    t[op++].first = {inst_type::run, 0, 0};
    for (unsigned size = 0; size <= 17; ++size)
        t[op++].first = {inst_type::add, static_cast<std::uint8_t>(size), 0};
    for (unsigned mode = 0; mode < mode_count; ++mode) {
        t[op++].first = {inst_type::copy, 0, static_cast<std::uint8_t>(mode)};
        for (unsigned size = 4; size <= 18; ++size)
            t[op++].first = {inst_type::copy, static_cast<std::uint8_t>(size),
                             static_cast<std::uint8_t>(mode)};
    }
    for (unsigned mode = 0; mode < mode_count; ++mode) {
        const unsigned max_copy = mode < first_same_mode ? 6 : 4;
        for (unsigned add = 1; add <= 4; ++add)
            for (unsigned copy = 4; copy <= max_copy; ++copy) {
                t[op].first = {inst_type::add, static_cast<std::uint8_t>(add), 0};
                t[op++].second = {inst_type::copy, static_cast<std::uint8_t>(copy),
                                  static_cast<std::uint8_t>(mode)};
            }
    }
    for (unsigned mode = 0; mode < mode_count; ++mode) {
        t[op].first = {inst_type::copy, 4, static_cast<std::uint8_t>(mode)};
        t[op++].second = {inst_type::add, 1, 0};
    }
    return t;
}

} // namespace

const code_table& default_code_table()
{
    static const code_table table = build_default();
    return table;
}

} // namespace qm::vcdiff
