#pragma once
// @UTF tables: self-describing big-endian tables with named, typed columns, a string pool and a
// data pool whose items are nested @UTF tables. CPK archives keep their header and their table of
// contents in them, each wrapped in a 16-byte table chunk.

#include "common/bytes.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Column type code, 0 to 11 (the low four bits of a descriptor's flag byte). The two codes of each
// integer pair are handled alike: values are copied without sign extension.
using utf_type = std::uint8_t;
constexpr utf_type utf_u8 = 0;
constexpr utf_type utf_s8 = 1;
constexpr utf_type utf_u16 = 2;
constexpr utf_type utf_s16 = 3;
constexpr utf_type utf_u32 = 4;
constexpr utf_type utf_s32 = 5;
constexpr utf_type utf_u64 = 6;
constexpr utf_type utf_s64 = 7;
constexpr utf_type utf_float = 8;   // IEEE-754 single, kept as its bit pattern
constexpr utf_type utf_raw64 = 9;   // 8 opaque bytes
constexpr utf_type utf_string = 10; // cell = index into the string list
constexpr utf_type utf_data = 11;   // cell = index into the sub-table list
constexpr utf_type utf_type_count = 12;

// Bytes a value of the type takes in a row.
std::uint32_t utf_type_width(utf_type type);

struct utf_column {
    std::string name;
    utf_type type = utf_u8;
    bool stored = false; // has a value in every row; otherwise reads as 0 and takes no row bytes
};

class utf_table {
public:
    utf_table() = default;
    // A table with these columns and no rows.
    utf_table(std::string name, std::vector<utf_column> columns);

    // Reads the @UTF table at the start of `data`; every offset is checked against data's bounds.
    static utf_table parse(byte_span data);
    // Reads a table chunk: refuses an enciphered one (flag byte 0), then parses the table at +16.
    static utf_table from_chunk(byte_span chunk);

    bytes serialize() const;
    // The 16-byte chunk head (tag, flag 0xFF, little-endian table length) and the table.
    bytes to_chunk(std::string_view tag) const;

    // Appends a row of zero cells and returns its index.
    std::uint32_t add_row();
    std::uint32_t row_count() const noexcept { return rows; }

    // Index of the named column, or 0 when the table has no such column.
    std::uint32_t column_index(const std::string& name) const;
    bool has_column(const std::string& name) const { return name_index.count(name) != 0; }

    // The 64-bit slot of one cell; throws when row or column is out of range.
    std::uint64_t& cell(std::uint32_t row, std::uint32_t column);
    std::uint64_t cell(std::uint32_t row, std::uint32_t column) const;

    // Appends the text (or a copy of the table) to its list and stores the new index in the cell.
    void set_string(std::uint32_t row, std::uint32_t column, std::string text);
    void set_table(std::uint32_t row, std::uint32_t column, const utf_table& table);

    // Entries of the string and sub-table lists; throw when the index is out of range.
    const std::string& string_at(std::uint64_t index) const;
    const utf_table& sub_table(std::uint64_t index) const;

    const std::string& name() const noexcept { return table_name; }
    const std::vector<utf_column>& columns() const noexcept { return cols; }
    std::size_t string_count() const noexcept { return strings.size(); }
    std::size_t sub_table_count() const noexcept { return sub_tables.size(); }
    // Row width as read from a parsed header (the writer recomputes it).
    std::uint16_t row_width() const noexcept { return header_row_width; }

private:
    struct reader;

    std::string table_name;
    std::vector<utf_column> cols;
    std::uint32_t rows = 0;
    std::vector<std::uint64_t> cells; // rows * cols.size(), row-major
    std::vector<std::string> strings;
    std::vector<utf_table> sub_tables;
    std::map<std::string, std::uint32_t> name_index;
    std::uint16_t header_row_width = 0;
};

} // namespace qm
