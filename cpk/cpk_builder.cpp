#include "cpk/cpk_builder.h"

#include "common/phase_timer.h"
#include "cpk/cpk_compress.h"
#include "cpk/cpk_visit.h"

#include <algorithm>
#include <stdexcept>

namespace qm {
namespace {

utf_table itoc_table(const char* name, utf_type size_type)
{
    return utf_table(
        name, {{"ID", utf_u16, true}, {"FileSize", size_type, true}, {"ExtractSize", size_type, true}});
}

// Column list of the archive header; only the stored columns have values in its row.
utf_table header_table()
{
    return utf_table("CpkHeader", {
                                      {"UpdateDateTime", utf_u64, false},
                                      {"FileSize", utf_u64, false},
                                      {"ContentOffset", utf_u64, true},
                                      {"ContentSize", utf_u64, false},
                                      {"TocOffset", utf_u64, false},
                                      {"TocSize", utf_u64, false},
                                      {"EtocOffset", utf_u64, false},
                                      {"EtocSize", utf_u64, false},
                                      {"ItocOffset", utf_u64, true},
                                      {"ItocSize", utf_u64, true},
                                      {"EnabledPackedSize", utf_u64, true},
                                      {"EnabledDataSize", utf_u64, true},
                                      {"TotalDataSize", utf_u64, false},
                                      {"Tocs", utf_u32, false},
                                      {"Files", utf_u32, true},
                                      {"TotalFiles", utf_u32, false},
                                      {"Directories", utf_u32, false},
                                      {"Updates", utf_u32, false},
                                      {"Version", utf_u16, true},
                                      {"Revision", utf_u16, true},
                                      {"Align", utf_u16, true},
                                      {"Sorted", utf_u16, true},
                                      {"Tvers", utf_string, true},
                                      {"Comment", utf_string, false},
                                  });
}

void set(utf_table& t, const char* column, std::uint64_t value)
{
    t.cell(0, t.column_index(column)) = value;
}

} // namespace

cpk_builder::cpk_builder()
    : image(cpk_content_offset, 0), low(itoc_table("CpkItocL", utf_u16)),
      high(itoc_table("CpkItocH", utf_u32))
{
}

namespace {

// The file's size, which the archive's tables hold in 32 bits.
std::uint32_t file_size(byte_span data)
{
    if (data.size() > 0xFFFFFFFFu)
        throw std::runtime_error("cpk_builder::add_file failed - file of 4 GiB or more");
    return static_cast<std::uint32_t>(data.size());
}

// No compression is tried below 384 bytes.
std::optional<bytes> compressed_form(byte_span data)
{
    if (data.size() < cpk_min_compress_size)
        return std::nullopt;
    const timed_phase timing(job_phase::cpk_compression);
    return cpk_compress(data);
}

} // namespace

cpk_stored_file cpk_store(byte_span data)
{
    const std::uint32_t size = file_size(data);
    std::optional<bytes> compressed = compressed_form(data);
    return {size, compressed ? std::move(*compressed) : bytes(data.begin(), data.end())};
}

cpk_stored_file cpk_store(bytes&& data)
{
    const std::uint32_t size = file_size(data);
    std::optional<bytes> compressed = compressed_form(data);
    return {size, compressed ? std::move(*compressed) : std::move(data)};
}

void cpk_builder::check_room(std::uint64_t more) const
{
    if (std::uint64_t{file_count()} + more > cpk_max_files)
        throw std::runtime_error("cpk_builder::add_file failed - a CPK archive holds at most 65535 files");
}

void cpk_builder::add_file(byte_span data)
{
    check_room();
    add_stored(cpk_store(data));
}

void cpk_builder::add_stored(cpk_stored_file file)
{
    check_room();
    const std::uint32_t size = file.size;
    const bytes& blob = file.blob;
    const std::uint32_t stored = static_cast<std::uint32_t>(blob.size());

    // The table is chosen by the expanded size, whatever the stored one.
    utf_table& table = size <= 0xFFFF ? low : high;
    const std::uint32_t row = table.add_row();
    table.cell(row, 0) = next_id;
    table.cell(row, 1) = stored;
    table.cell(row, 2) = size;

    total_extract_size += size;
    total_stored_size += stored;
    image.insert(image.end(), blob.begin(), blob.end());
    image.resize(round_up(image.size(), cpk_file_alignment), 0);
    ++next_id;
}

void cpk_builder::finish(bytes& out) const
{
    utf_table itoc("CpkItocInfo", {{"FilesL", utf_u32, true},
                                   {"FilesH", utf_u32, true},
                                   {"DataL", utf_data, true},
                                   {"DataH", utf_data, true}});
    itoc.add_row();
    itoc.cell(0, 0) = low.row_count();
    itoc.cell(0, 1) = high.row_count();
    itoc.set_table(0, 2, low);
    itoc.set_table(0, 3, high);
    const bytes itoc_chunk = itoc.to_chunk("ITOC");

    const std::uint64_t itoc_offset = out.size(); // the content area's end
    const std::uint64_t length = itoc_offset + itoc_chunk.size();
    if (length > 0xFFFFFFFFu)
        throw std::runtime_error("cpk_builder::write failed - archive of 4 GiB or more");

    utf_table header = header_table();
    header.add_row();
    set(header, "ContentOffset", cpk_content_offset);
    set(header, "ItocOffset", itoc_offset);
    set(header, "ItocSize", itoc_chunk.size());
    // Packed gets the expanded total and Data the stored one, though the names suggest otherwise.
    set(header, "EnabledPackedSize", total_extract_size);
    set(header, "EnabledDataSize", total_stored_size);
    set(header, "Files", low.row_count() + high.row_count());
    set(header, "Version", 2);
    set(header, "Revision", 3);
    set(header, "Align", cpk_file_alignment);
    set(header, "Sorted", 0);
    header.set_string(0, header.column_index("Tvers"), "CPK Library 1.05");
    const bytes header_chunk = header.to_chunk("CPK ");
    if (header_chunk.size() > cpk_content_offset)
        throw std::runtime_error("cpk_builder::write failed - header larger than its area");

    out.insert(out.end(), itoc_chunk.begin(), itoc_chunk.end());
    std::copy(header_chunk.begin(), header_chunk.end(), out.begin());
}

bytes cpk_builder::write() const
{
    bytes out;
    out.reserve(image.size() + 1024); // room for the ITOC chunk of a few dozen files
    out.assign(image.begin(), image.end());
    finish(out);
    return out;
}

bytes cpk_builder::take_archive()
{
    finish(image);
    return std::move(image);
}

} // namespace qm
