#include "cpk/utf_table.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace qm {
namespace {

// Header: magic, table size, then the fields below; relative offsets count from byte 8.
constexpr std::size_t header_length = 32;
constexpr std::size_t relative_base = 8;
constexpr std::size_t descriptor_length = 5;
constexpr std::size_t rows_offset_field = 10;
constexpr std::size_t strings_offset_field = 12;
constexpr std::size_t data_offset_field = 16;
constexpr std::size_t name_offset_field = 20;
constexpr std::size_t column_count_field = 24;
constexpr std::size_t row_width_field = 26;
constexpr std::size_t row_count_field = 28;

// Descriptor flag bits; bits 0-3 are the type, 0x80 means nothing to us.
constexpr std::uint8_t flag_named = 0x10;
constexpr std::uint8_t flag_global = 0x20;
constexpr std::uint8_t flag_stored = 0x40;
constexpr std::uint8_t type_mask = 0x0F;

// The writer's string pool always opens with this text, so no name sits at offset 0.
constexpr std::string_view null_text{"<NULL>\0", 7};

// Table chunk head: tag, flag byte (0 = enciphered), three zero bytes, 64-bit LE length.
constexpr std::size_t chunk_head_length = 16;
constexpr std::size_t chunk_flag_offset = 4;
constexpr std::size_t chunk_length_offset = 8;
constexpr std::uint8_t chunk_flag_written = 0xFF;

// Nested tables deeper than this are refused; the archive format needs two levels.
constexpr unsigned max_nesting = 16;

// Parsing may build more than the bytes it reads (a cell is 8 bytes, every string cell owns a copy
// of its text, and many cells may point at the same text or nested table). Memory and work are
// therefore charged against a budget proportional to the input; costs are rough estimates.
constexpr std::uint64_t budget_per_input_byte = 32;
constexpr std::uint64_t budget_base = 1u << 20;
constexpr std::uint64_t table_cost = 256;
constexpr std::uint64_t string_cost = 32;
constexpr std::uint64_t column_cost = 64;
constexpr std::uint64_t row_cost = 8;
constexpr std::uint64_t cell_cost = 8;

[[noreturn]] void parse_failure(const char* reason)
{
    throw std::runtime_error(std::string("utf_table::parse failed - ") + reason);
}

} // namespace

std::uint32_t utf_type_width(utf_type type)
{
    switch (type) {
    case utf_u8:
    case utf_s8:
        return 1;
    case utf_u16:
    case utf_s16:
        return 2;
    case utf_u32:
    case utf_s32:
    case utf_float:
    case utf_string:
        return 4;
    case utf_u64:
    case utf_s64:
    case utf_raw64:
    case utf_data:
        return 8;
    default:
        throw std::runtime_error("utf_table - unknown column type " + std::to_string(type));
    }
}

// One parse of a root table and everything nested in it, sharing one budget.
struct utf_table::reader {
    std::uint64_t budget;

    void charge(std::uint64_t amount)
    {
        if (amount > budget)
            parse_failure("table too large for its bytes");
        budget -= amount;
    }

    // The NUL-terminated text at pool + offset.
    std::string text_at(byte_span data, std::uint64_t pool, std::uint64_t offset)
    {
        std::uint64_t pos = pool + offset;
        if (pos >= data.size())
            parse_failure("string outside the table");
        const void* nul = std::memchr(data.data() + pos, 0, data.size() - pos);
        if (!nul)
            parse_failure("unterminated string");
        std::size_t len = static_cast<const std::uint8_t*>(nul) - (data.data() + pos);
        charge(len + string_cost);
        return std::string(reinterpret_cast<const char*>(data.data() + pos), len);
    }

    utf_table read(byte_span data, unsigned depth)
    {
        if (data.size() < 4 || std::memcmp(data.data(), "@UTF", 4) != 0)
            throw std::runtime_error("No valid UTF signature found");
        if (data.size() < header_length)
            parse_failure("table truncated");
        charge(table_cost);

        const std::uint64_t rows_start = relative_base + get_be16(data, rows_offset_field);
        const std::uint64_t pool = relative_base + get_be32(data, strings_offset_field);
        const std::uint64_t data_pool = relative_base + get_be32(data, data_offset_field);
        const std::uint32_t column_count = get_be16(data, column_count_field);
        const std::uint32_t row_count = get_be32(data, row_count_field);

        utf_table t;
        t.header_row_width = get_be16(data, row_width_field);
        t.table_name = text_at(data, pool, get_be32(data, name_offset_field));

        std::uint64_t stored_width = 0;
        for (std::uint32_t i = 0; i < column_count; ++i) {
            const std::size_t at = header_length + descriptor_length * i;
            if (!in_bounds(data.size(), at, descriptor_length))
                parse_failure("table truncated");
            const std::uint8_t flag = data[at];
            if (!(flag & flag_named))
                throw std::runtime_error("Property not described by string");
            if (flag & flag_global)
                throw std::runtime_error("Global property not supported");
            const utf_type type = flag & type_mask;
            if (type >= utf_type_count)
                throw std::runtime_error("Unknown property type");
            charge(column_cost);
            utf_column column{text_at(data, pool, get_be32(data, at + 1)), type, (flag & flag_stored) != 0};
            if (column.stored)
                stored_width += utf_type_width(type);
            t.name_index[column.name] = i;
            t.cols.push_back(std::move(column));
        }

        // Every row must lie within the bytes (rows may be wider than their values, or overlap),
        // and the cells are paid for before they are allocated.
        if (row_count > 0) {
            const std::uint64_t last_row_end =
                rows_start + std::uint64_t(row_count - 1) * t.header_row_width + stored_width;
            if (last_row_end > data.size())
                parse_failure("rows outside the table");
        }
        charge(std::uint64_t(row_count) * (row_cost + cell_cost * column_count));
        t.cells.assign(std::size_t(row_count) * column_count, 0);
        t.rows = row_count;

        for (std::uint32_t r = 0; r < row_count; ++r) {
            std::size_t pos = rows_start + std::uint64_t(r) * t.header_row_width;
            for (std::uint32_t c = 0; c < column_count; ++c) {
                const utf_column& column = t.cols[c];
                if (!column.stored)
                    continue;
                std::uint64_t& slot = t.cells[std::size_t(r) * column_count + c];
                switch (column.type) {
                case utf_u8:
                case utf_s8:
                    slot = get_u8(data, pos);
                    break;
                case utf_u16:
                case utf_s16:
                    slot = get_be16(data, pos);
                    break;
                case utf_u32:
                case utf_s32:
                case utf_float:
                    slot = get_be32(data, pos);
                    break;
                case utf_u64:
                case utf_s64:
                case utf_raw64:
                    slot = get_be64(data, pos);
                    break;
                case utf_string:
                    t.strings.push_back(text_at(data, pool, get_be32(data, pos)));
                    slot = t.strings.size() - 1;
                    break;
                case utf_data: {
                    // The item lies in the data pool, inside this table's bytes; starting at least
                    // 8 bytes in, it is always smaller than its parent.
                    const std::uint64_t start = data_pool + get_be32(data, pos);
                    const std::uint32_t length = get_be32(data, pos + 4);
                    if (!in_bounds(data.size(), start, length))
                        parse_failure("nested table outside its parent's data");
                    if (depth + 1 > max_nesting)
                        parse_failure("tables nested too deeply");
                    t.sub_tables.push_back(read(data.subspan(start, length), depth + 1));
                    slot = t.sub_tables.size() - 1;
                    break;
                }
                }
                pos += utf_type_width(column.type);
            }
        }
        return t;
    }
};

utf_table::utf_table(std::string name, std::vector<utf_column> columns)
    : table_name(std::move(name)), cols(std::move(columns))
{
    for (std::uint32_t i = 0; i < cols.size(); ++i)
        name_index[cols[i].name] = i;
}

utf_table utf_table::parse(byte_span data)
{
    reader r{budget_base + budget_per_input_byte * data.size()};
    return r.read(data, 0);
}

utf_table utf_table::from_chunk(byte_span chunk)
{
    if (chunk.size() <= chunk_flag_offset)
        throw std::runtime_error("utf_table::from_chunk failed - chunk truncated");
    if (chunk[chunk_flag_offset] == 0)
        throw std::runtime_error("Encrypted chunk unsupported");
    if (chunk.size() < chunk_head_length)
        throw std::runtime_error("utf_table::from_chunk failed - chunk truncated");
    // The length field is not trusted beyond the bytes that are really there.
    const std::uint64_t length = get_le64(chunk, chunk_length_offset);
    const std::size_t available = chunk.size() - chunk_head_length;
    return parse(chunk.subspan(chunk_head_length, std::min<std::uint64_t>(length, available)));
}

bytes utf_table::serialize() const
{
    const std::uint64_t column_count = cols.size();
    std::uint64_t row_width = 0;
    if (rows > 0)
        for (const utf_column& c : cols)
            if (c.stored)
                row_width += utf_type_width(c.type);
    for (const utf_column& c : cols)
        if (c.type >= utf_type_count)
            throw std::runtime_error("utf_table::serialize failed - unknown column type");

    const std::uint64_t rows_offset = 24 + descriptor_length * column_count;
    if (rows_offset > 0xFFFF || column_count > 0xFFFF || row_width > 0xFFFF)
        throw std::runtime_error("utf_table::serialize failed - too many columns");
    const std::uint64_t strings_offset = rows_offset + row_width * rows;

    std::uint64_t pool_size = null_text.size() + table_name.size() + 1;
    for (const utf_column& c : cols)
        pool_size += c.name.size() + 1;
    for (const std::string& s : strings)
        pool_size += s.size() + 1;
    const std::uint64_t data_offset = round_up(strings_offset + pool_size, 8);

    std::vector<bytes> nested;
    nested.reserve(sub_tables.size());
    std::uint64_t table_size = data_offset;
    for (const utf_table& sub : sub_tables) {
        nested.push_back(sub.serialize());
        table_size += nested.back().size();
    }
    if (table_size > 0xFFFFFFFFu - relative_base)
        throw std::runtime_error("utf_table::serialize failed - table of 4 GiB or more");

    bytes out(relative_base + table_size, 0);
    const std::size_t pool_start = relative_base + strings_offset;
    const std::size_t pool_end = pool_start + pool_size;
    std::size_t pool_pos = pool_start;
    // Places a text and its NUL in the pool and returns its pool offset.
    auto add_text = [&](std::string_view text) {
        if (text.size() + 1 > pool_end - pool_pos)
            throw std::runtime_error(
                "utf_table::serialize failed - string cells do not match the string list");
        std::copy(text.begin(), text.end(), out.begin() + pool_pos);
        out[pool_pos + text.size()] = 0;
        std::uint32_t offset = static_cast<std::uint32_t>(pool_pos - pool_start);
        pool_pos += text.size() + 1;
        return offset;
    };
    add_text(null_text.substr(0, null_text.size() - 1));
    const std::uint32_t name_offset = add_text(table_name);

    for (std::size_t i = 0; i < cols.size(); ++i) {
        const utf_column& c = cols[i];
        const std::size_t at = header_length + descriptor_length * i;
        std::uint8_t flag = flag_named | c.type;
        if (c.stored && rows > 0)
            flag |= flag_stored;
        out[at] = flag;
        put_be32(out, at + 1, add_text(c.name));
    }

    const std::size_t data_start = relative_base + data_offset;
    std::size_t data_pos = data_start;
    for (std::uint32_t r = 0; r < rows; ++r) {
        std::size_t pos = relative_base + rows_offset + std::size_t(r) * row_width;
        for (std::size_t c = 0; c < cols.size(); ++c) {
            if (!cols[c].stored)
                continue;
            const std::uint64_t v = cells[std::size_t(r) * cols.size() + c];
            switch (cols[c].type) {
            case utf_u8:
            case utf_s8:
                put_u8(out, pos, static_cast<std::uint8_t>(v));
                break;
            case utf_u16:
            case utf_s16:
                put_be16(out, pos, static_cast<std::uint16_t>(v));
                break;
            case utf_u32:
            case utf_s32:
            case utf_float:
                put_be32(out, pos, static_cast<std::uint32_t>(v));
                break;
            case utf_u64:
            case utf_s64:
            case utf_raw64:
                put_be64(out, pos, v);
                break;
            case utf_string:
                put_be32(out, pos, add_text(string_at(v)));
                break;
            case utf_data: {
                if (v >= nested.size())
                    throw std::runtime_error("utf_table::serialize failed - data cell without a table");
                const bytes& item = nested[v];
                if (item.size() > out.size() - data_pos)
                    throw std::runtime_error(
                        "utf_table::serialize failed - data cells do not match the table list");
                std::copy(item.begin(), item.end(), out.begin() + data_pos);
                put_be32(out, pos, static_cast<std::uint32_t>(data_pos - data_start));
                put_be32(out, pos + 4, static_cast<std::uint32_t>(item.size()));
                data_pos += item.size();
                break;
            }
            }
            pos += utf_type_width(cols[c].type);
        }
    }

    std::memcpy(out.data(), "@UTF", 4);
    put_be32(out, 4, static_cast<std::uint32_t>(table_size));
    put_be16(out, rows_offset_field, static_cast<std::uint16_t>(rows_offset));
    put_be32(out, strings_offset_field, static_cast<std::uint32_t>(strings_offset));
    put_be32(out, data_offset_field, static_cast<std::uint32_t>(data_offset));
    put_be32(out, name_offset_field, name_offset);
    put_be16(out, column_count_field, static_cast<std::uint16_t>(column_count));
    put_be16(out, row_width_field, static_cast<std::uint16_t>(row_width));
    put_be32(out, row_count_field, rows);
    return out;
}

bytes utf_table::to_chunk(std::string_view tag) const
{
    if (tag.size() != 4)
        throw std::runtime_error("utf_table::to_chunk failed - a tag has four characters");
    bytes table = serialize();
    bytes out(chunk_head_length, 0);
    std::copy(tag.begin(), tag.end(), out.begin());
    out[chunk_flag_offset] = chunk_flag_written;
    put_le64(out, chunk_length_offset, table.size());
    append_bytes(out, table);
    return out;
}

std::uint32_t utf_table::add_row()
{
    cells.resize(cells.size() + cols.size(), 0);
    return rows++;
}

std::uint32_t utf_table::column_index(const std::string& name) const
{
    auto it = name_index.find(name);
    return it == name_index.end() ? 0 : it->second;
}

std::uint64_t& utf_table::cell(std::uint32_t row, std::uint32_t column)
{
    if (row >= rows || column >= cols.size())
        throw std::runtime_error("utf_table::cell - row or column out of range");
    return cells[std::size_t(row) * cols.size() + column];
}

std::uint64_t utf_table::cell(std::uint32_t row, std::uint32_t column) const
{
    return const_cast<utf_table&>(*this).cell(row, column);
}

void utf_table::set_string(std::uint32_t row, std::uint32_t column, std::string text)
{
    std::uint64_t& slot = cell(row, column);
    strings.push_back(std::move(text));
    slot = strings.size() - 1;
}

void utf_table::set_table(std::uint32_t row, std::uint32_t column, const utf_table& table)
{
    std::uint64_t& slot = cell(row, column);
    utf_table copy = table; // `table` may be this table or one of its own entries
    sub_tables.push_back(std::move(copy));
    slot = sub_tables.size() - 1;
}

const std::string& utf_table::string_at(std::uint64_t index) const
{
    if (index >= strings.size())
        throw std::runtime_error("utf_table::string_at - no string " + std::to_string(index));
    return strings[index];
}

const utf_table& utf_table::sub_table(std::uint64_t index) const
{
    if (index >= sub_tables.size())
        throw std::runtime_error("utf_table::sub_table - no nested table " + std::to_string(index));
    return sub_tables[index];
}

} // namespace qm
