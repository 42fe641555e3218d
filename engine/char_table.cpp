#include "engine/char_table.h"

namespace qm {

namespace {

constexpr bool strictly_ascending()
{
    for (std::size_t i = 1; i < char_count; ++i)
        if (char_table[i - 1] >= char_table[i])
            return false;
    return true;
}
// Ascending order rules out duplicates, which would make an index ambiguous.
static_assert(strictly_ascending());

} // namespace

char_index_map make_char_index()
{
    char_index_map index;
    index.reserve(char_count);
    for (std::size_t i = 0; i < char_count; ++i)
        index.emplace(char_table[i], static_cast<std::uint16_t>(i));
    return index;
}

} // namespace qm
