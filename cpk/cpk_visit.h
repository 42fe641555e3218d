#pragma once
// Walking a CPK archive: every file, expanded, handed to a visitor in ascending ID order.
//
// Layout: a "CPK " chunk at offset 0 holds the CpkHeader table; the files follow from its
// ContentOffset in ascending ID order, each starting at the end of the previous one rounded up to
// the header's Align (512 in the archives written here); an "ITOC" chunk at ItocOffset lists (ID, FileSize,
// ExtractSize) in two nested tables, CpkItocL (16-bit sizes) and CpkItocH (32-bit sizes). A file is
// compressed exactly when its FileSize differs from its ExtractSize.

#include "common/bytes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

namespace qm {

// Files start at multiples of this after the first one, in the archives written here and in those
// whose header gives no Align.
constexpr std::uint32_t cpk_file_alignment = 0x200;

struct cpk_entry {
    std::uint16_t id = 0;
    std::uint32_t file_size = 0;    // bytes in the archive
    std::uint32_t extract_size = 0; // bytes once expanded
    std::uint64_t offset = 0;       // where the stored bytes start (not yet checked against the archive)
};

// The entries of the ITOC, in ascending ID order (an ID listed in both tables takes the values of
// CpkItocH), with the offsets their order and sizes imply. Reads only the two tables.
std::vector<cpk_entry> cpk_entries(byte_span archive);

// Calls the visitor without copying it.
class cpk_visitor_ref {
public:
    template <class F>
    requires(!std::is_same_v<std::remove_cv_t<F>, cpk_visitor_ref>) cpk_visitor_ref(F& f)
    noexcept : object(const_cast<void*>(static_cast<const void*>(std::addressof(f)))), call(&invoke<F>) {}

    void operator()(std::uint32_t id, byte_span data) const { call(object, id, data); }

private:
    template <class F> static void invoke(void* f, std::uint32_t id, byte_span data)
    {
        (void)std::invoke(*static_cast<F*>(f), id, data); // a result is ignored
    }

    void* object;
    void (*call)(void*, std::uint32_t, byte_span);
};

// Calls visitor(id, data) once per file in ascending ID order with the file's expanded bytes;
// `data` is valid only during the call. Errors of the visitor reach the caller unchanged. Files
// after one that is out of bounds or fails to expand are not visited.
void cpk_visit(byte_span archive, cpk_visitor_ref visitor);

template <class F>
requires(!std::is_same_v<std::remove_cvref_t<F>, cpk_visitor_ref>) void cpk_visit(byte_span archive,
                                                                                  F&& visitor)
{
    cpk_visit(archive, cpk_visitor_ref(visitor));
}

// What cpk_visit does for one file, `e` as cpk_entries lists it: the files of an archive may so be
// expanded in any order, or at once on several threads.
void cpk_visit_entry(byte_span archive, const cpk_entry& e, cpk_visitor_ref visitor);

} // namespace qm
