#include "cpk/cpk_visit.h"

#include "common/phase_timer.h"
#include "cpk/cpk_decompress.h"
#include "cpk/utf_table.h"

#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace qm {
namespace {

[[noreturn]] void fail(const std::string& reason)
{
    throw std::runtime_error("cpk_visit failed - " + reason);
}

std::uint32_t required_column(const utf_table& t, const char* name)
{
    if (!t.has_column(name))
        fail("table " + t.name() + " has no " + name + " column");
    return t.column_index(name);
}

const utf_table& nested_table(const utf_table& itoc, const char* column)
{
    return itoc.sub_table(itoc.cell(0, required_column(itoc, column)));
}

using size_pair = std::pair<std::uint32_t, std::uint32_t>; // FileSize, ExtractSize

// CpkItocL holds 16-bit sizes, CpkItocH 32-bit ones; IDs are 16-bit in both.
void read_sizes(const utf_table& t, bool wide, std::map<std::uint16_t, size_pair>& sizes)
{
    if (t.row_count() == 0)
        return;
    const std::uint32_t id = required_column(t, "ID");
    const std::uint32_t file_size = required_column(t, "FileSize");
    const std::uint32_t extract_size = required_column(t, "ExtractSize");
    const std::uint64_t mask = wide ? 0xFFFFFFFFu : 0xFFFFu;
    for (std::uint32_t r = 0; r < t.row_count(); ++r)
        sizes[static_cast<std::uint16_t>(t.cell(r, id))] = {
            static_cast<std::uint32_t>(t.cell(r, file_size) & mask),
            static_cast<std::uint32_t>(t.cell(r, extract_size) & mask)};
}

// Each file after the first starts at a multiple of the header's Align. Archives written by other
// tools may declare 2048 or 32; stepping 512 through those would hand out the wrong bytes for
// every file after the first. An archive without the column, or with 0 in it, steps 512.
std::uint64_t file_alignment(const utf_table& header)
{
    if (!header.has_column("Align"))
        return cpk_file_alignment;
    const std::uint64_t align = header.cell(0, header.column_index("Align")) & 0xFFFF;
    return align != 0 ? align : cpk_file_alignment;
}

} // namespace

std::vector<cpk_entry> cpk_entries(byte_span archive)
{
    const utf_table header = utf_table::from_chunk(archive);
    // A lookup that fails yields column 0, which is how a missing column is recognised.
    const std::uint32_t itoc_column = header.column_index("ItocOffset");
    if (itoc_column == 0)
        throw std::runtime_error("ID Information not found in CPK archive");
    if (header.row_count() == 0)
        fail("CpkHeader table has no row");

    const std::uint32_t itoc_offset = static_cast<std::uint32_t>(header.cell(0, itoc_column));
    if (itoc_offset > archive.size())
        fail("ITOC chunk outside the archive");
    const utf_table itoc = utf_table::from_chunk(archive.subspan(itoc_offset));
    if (itoc.row_count() == 0)
        fail("table " + itoc.name() + " has no row");

    std::map<std::uint16_t, size_pair> sizes;
    read_sizes(nested_table(itoc, "DataL"), false, sizes);
    read_sizes(nested_table(itoc, "DataH"), true, sizes); // overrides an ID also listed as small

    std::uint64_t offset = static_cast<std::uint32_t>(header.cell(0, header.column_index("ContentOffset")));
    const std::uint64_t step = file_alignment(header);
    std::vector<cpk_entry> entries;
    entries.reserve(sizes.size());
    for (const auto& [id, size] : sizes) {
        entries.push_back({id, size.first, size.second, offset});
        offset = (offset + size.first + step - 1) / step * step;
    }
    return entries;
}

void cpk_visit_entry(byte_span archive, const cpk_entry& e, cpk_visitor_ref visitor)
{
    const std::string what = "file " + std::to_string(e.id);
    if (!in_bounds(archive.size(), e.offset, e.file_size))
        fail(what + " lies outside the archive");
    const std::uint8_t* stored = archive.data() + e.offset;
    if (e.file_size == e.extract_size) {
        visitor(e.id, byte_span(stored, e.file_size));
        return;
    }
    if (e.extract_size > cpk_max_extract_size(e.file_size))
        fail(what + " claims more expanded bytes than its form can hold");
    bytes expanded(e.extract_size, 0);
    {
        const timed_phase timing(job_phase::cpk_decoding);
        cpk_decompress(byte_span(stored, e.file_size), expanded);
    }
    visitor(e.id, expanded);
}

void cpk_visit(byte_span archive, cpk_visitor_ref visitor)
{
    for (const cpk_entry& e : cpk_entries(archive))
        cpk_visit_entry(archive, e, visitor);
}

} // namespace qm
