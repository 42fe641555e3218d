#include "vcdiff/window_encoder.h"

#include "vcdiff/varint_writer.h"

#include <array>

namespace qm::vcdiff {

namespace {

// Sizes up to this value can be carried by an opcode itself.
constexpr unsigned max_table_size = 18;
constexpr std::int16_t no_opcode = -1;

// Reverse lookups over the default code table.
struct opcode_index {
    // Opcodes of one instruction alone, by type, mode and size (0: size written separately).
    std::array<std::array<std::array<std::int16_t, max_table_size + 1>, mode_count>, 4> single;
    // ADD (size a) then COPY (size c, mode m), and COPY (size c, mode m) then ADD (size a).
    std::array<std::array<std::array<std::int16_t, mode_count>, max_table_size + 1>, max_table_size + 1>
        add_copy;
    std::array<std::array<std::array<std::int16_t, max_table_size + 1>, mode_count>, max_table_size + 1>
        copy_add;

    opcode_index()
    {
        for (auto& t : single)
            for (auto& m : t)
                m.fill(no_opcode);
        for (auto& a : add_copy)
            for (auto& c : a)
                c.fill(no_opcode);
        for (auto& c : copy_add)
            for (auto& m : c)
                m.fill(no_opcode);
        const code_table& table = default_code_table();
        for (unsigned op = 0; op < table.size(); ++op) {
            const half_instruction& a = table[op].first;
            const half_instruction& b = table[op].second;
            if (b.type == inst_type::noop) {
                std::int16_t& slot = single[static_cast<unsigned>(a.type)][a.mode][a.size];
                if (slot == no_opcode)
                    slot = static_cast<std::int16_t>(op);
            } else if (a.type == inst_type::add && b.type == inst_type::copy) {
                add_copy[a.size][b.size][b.mode] = static_cast<std::int16_t>(op);
            } else if (a.type == inst_type::copy && b.type == inst_type::add) {
                copy_add[a.size][a.mode][b.size] = static_cast<std::int16_t>(op);
            }
        }
    }
};

const opcode_index& opcodes()
{
    static const opcode_index index;
    return index;
}

} // namespace

window_encoder::window_encoder(std::uint64_t segment_length)
    : segment_length(segment_length), here(segment_length)
{
    cache.reset();
}

void window_encoder::add(byte_span literal)
{
    append_bytes(data, literal);
    emit(inst_type::add, static_cast<std::uint32_t>(literal.size()), 0);
}

void window_encoder::run(std::uint8_t value, std::uint32_t size)
{
    data.push_back(value);
    emit(inst_type::run, size, 0);
}

void window_encoder::copy(std::uint64_t address, std::uint32_t size)
{
    const address_cache::encoded_address a = cache.encode(address, here);
    if (a.mode >= first_same_mode)
        addresses.push_back(static_cast<std::uint8_t>(a.value));
    else
        append_varint(addresses, a.value);
    emit(inst_type::copy, size, a.mode);
}

void window_encoder::emit(inst_type type, std::uint32_t size, std::uint8_t mode)
{
    here += size;
    const opcode_index& ops = opcodes();
    if (waiting.type != inst_type::noop) {
        std::int16_t op = no_opcode;
        if (size <= max_table_size) {
            if (waiting.type == inst_type::add && type == inst_type::copy)
                op = ops.add_copy[waiting.size][size][mode];
            else if (waiting.type == inst_type::copy && type == inst_type::add)
                op = ops.copy_add[waiting.size][waiting.mode][size];
        }
        const held first = waiting;
        waiting = {};
        if (op != no_opcode) {
            instructions.push_back(static_cast<std::uint8_t>(op));
            return;
        }
        write_single(first.type, first.size, first.mode);
    }
    if ((type == inst_type::add && size >= 1 && size <= 4) || (type == inst_type::copy && size == 4))
        waiting = {type, static_cast<std::uint8_t>(size), mode};
    else
        write_single(type, size, mode);
}

void window_encoder::write_single(inst_type type, std::uint32_t size, std::uint8_t mode)
{
    const auto& by_size = opcodes().single[static_cast<unsigned>(type)][mode];
    if (size <= max_table_size && size != 0 && by_size[size] != no_opcode) {
        instructions.push_back(static_cast<std::uint8_t>(by_size[size]));
        return;
    }
    instructions.push_back(static_cast<std::uint8_t>(by_size[0]));
    append_varint(instructions, size);
}

void window_encoder::finish(bytes& out, std::uint8_t indicator, std::uint64_t segment_position)
{
    if (waiting.type != inst_type::noop) {
        write_single(waiting.type, waiting.size, waiting.mode);
        waiting = {};
    }
    bytes header;
    append_varint(header, here - segment_length); // target window length
    header.push_back(0);                          // Delta_Indicator: nothing compressed
    append_varint(header, data.size());
    append_varint(header, instructions.size());
    append_varint(header, addresses.size());

    out.push_back(indicator);
    if (indicator) {
        append_varint(out, segment_length);
        append_varint(out, segment_position);
    }
    append_varint(out, header.size() + data.size() + instructions.size() + addresses.size());
    append_bytes(out, header);
    append_bytes(out, data);
    append_bytes(out, instructions);
    append_bytes(out, addresses);
}

} // namespace qm::vcdiff
