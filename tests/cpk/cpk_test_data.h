#pragma once
// Inputs shared by the CPK tests: seeded generators and a hand assembler for archives whose
// tables say what a test needs (the builder only ever writes well-formed ones).

#include "common/bytes.h"
#include "cpk/cpk_builder.h"
#include "cpk/utf_table.h"
#include "vcdiff/sample_data.h" // make_text_like, for text-like files

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace qm::test {

inline bytes random_bytes(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    bytes b(n);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

// FNV-1a: a recorded digest of a writer's output pins every byte of it in one line.
inline std::uint64_t fnv1a(const bytes& b, std::uint64_t h = 0xCBF29CE484222325)
{
    for (std::uint8_t x : b)
        h = (h ^ x) * 0x100000001B3;
    return h;
}

inline bytes build_archive(const std::vector<bytes>& files)
{
    cpk_builder b;
    for (const bytes& f : files)
        b.add_file(f);
    return b.write();
}

struct archive_entry {
    std::uint16_t id;
    std::uint32_t file_size;
    std::uint32_t extract_size;
};

inline utf_table entry_table(const char* name, utf_type size_type, const std::vector<archive_entry>& entries)
{
    utf_table t(name,
                {{"ID", utf_u16, true}, {"FileSize", size_type, true}, {"ExtractSize", size_type, true}});
    for (const archive_entry& e : entries) {
        const std::uint32_t r = t.add_row();
        t.cell(r, 0) = e.id;
        t.cell(r, 1) = e.file_size;
        t.cell(r, 2) = e.extract_size;
    }
    return t;
}

inline bytes itoc_chunk(const std::vector<archive_entry>& low, const std::vector<archive_entry>& high)
{
    utf_table itoc("CpkItocInfo", {{"FilesL", utf_u32, true},
                                   {"FilesH", utf_u32, true},
                                   {"DataL", utf_data, true},
                                   {"DataH", utf_data, true}});
    itoc.add_row();
    itoc.cell(0, 0) = low.size();
    itoc.cell(0, 1) = high.size();
    itoc.set_table(0, 2, entry_table("CpkItocL", utf_u16, low));
    itoc.set_table(0, 3, entry_table("CpkItocH", utf_u32, high));
    return itoc.to_chunk("ITOC");
}

// A header without an Align column when `align` is empty.
inline bytes header_chunk(std::uint64_t content_offset, std::uint64_t itoc_offset,
                          std::optional<std::uint16_t> align = std::nullopt)
{
    std::vector<utf_column> columns = {
        {"UpdateDateTime", utf_u64, false}, {"ContentOffset", utf_u64, true}, {"ItocOffset", utf_u64, true}};
    if (align)
        columns.push_back({"Align", utf_u16, true});
    utf_table header("CpkHeader", columns);
    header.add_row();
    header.cell(0, 1) = content_offset;
    header.cell(0, 2) = itoc_offset;
    if (align)
        header.cell(0, 3) = *align;
    return header.to_chunk("CPK ");
}

// Header at 0, the given stored files placed from content_offset in ascending ID order at steps of
// `step` bytes, and the ITOC chunk at itoc_offset (or right after the last file when 0). The
// header declares `align` when it is given.
inline bytes assemble_archive(std::uint32_t content_offset, const std::vector<archive_entry>& low,
                              const std::vector<archive_entry>& high,
                              const std::vector<std::pair<std::uint16_t, bytes>>& files,
                              std::uint32_t itoc_offset = 0,
                              std::optional<std::uint16_t> align = std::nullopt, std::uint32_t step = 512)
{
    std::vector<std::pair<std::uint16_t, bytes>> sorted = files;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    bytes out(content_offset, 0);
    std::size_t at = content_offset;
    for (const auto& [id, data] : sorted) {
        out.resize(at);
        out.insert(out.end(), data.begin(), data.end());
        at = (at + data.size() + step - 1) / step * step;
    }
    if (itoc_offset == 0)
        itoc_offset = static_cast<std::uint32_t>(round_up(out.size(), 512));
    out.resize(itoc_offset, 0);
    append_bytes(out, itoc_chunk(low, high));
    const bytes head = header_chunk(content_offset, itoc_offset, align);
    if (out.size() < head.size())
        out.resize(head.size());
    std::copy(head.begin(), head.end(), out.begin());
    return out;
}

} // namespace qm::test
