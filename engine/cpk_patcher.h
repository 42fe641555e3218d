#pragma once
// Rewrites one CPK archive of the ROM entry by entry, as a type 1 patch record's entry list says.
//
// Entry list (u32 words): per patched entry, in ascending id order: id, crc32 of the unpatched
// entry, entry patch type, blob number (no blob for type 4); then append items: 0xFFFFFFFF and a
// blob number each. The list has no count: it ends where its record's room in the index ends.

#include "common/bytes.h"
#include "cpk/cpk_builder.h"

namespace qm {

class patcher;

class cpk_patcher {
public:
    cpk_patcher(patcher& owner, byte_span entry_list);

    // The new archive's bytes, or empty contents when the job is cancelled meanwhile.
    bytes run(const bytes& archive);

    // One entry of the source archive, in ascending id order, expanded.
    void operator()(std::uint32_t id, const std::uint8_t* data, std::uint32_t size);

private:
    void add(const std::uint8_t* data, std::uint32_t size);
    void add(const bytes& b) { add(b.data(), static_cast<std::uint32_t>(b.size())); }
    bytes patch_entry(std::uint32_t type, const std::uint8_t* data, std::uint32_t size);

    bool at_end() const noexcept { return cursor_ + 4 > list_.size(); }
    std::uint32_t peek() const;
    std::uint32_t take(); // throws when the list ends here

    patcher& owner_;
    byte_span list_;
    std::size_t cursor_ = 0; // byte offset of the next word in list_
    cpk_builder builder_;
};

} // namespace qm
