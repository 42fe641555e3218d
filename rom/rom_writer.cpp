// copy_to: the rebuilt ROM, written front to back in one pass into a temporary file, with the
// header and the tables written again at the end once every section has its new place.

#include "common/phase_timer.h"
#include "lz/nds_lz.h"
#include "rom/dsi_area.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "rom/rom_layout.h"
#include "rom/section_contents.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace qm {

namespace {

constexpr std::size_t copy_block = 1u << 20;

// The working copies of one rebuild: the header and the tables that the new layout rewrites.
// The source ROM itself is only read.
class rom_rebuild {
public:
    rom_rebuild(nds_rom& rom, std::ofstream& out, rom_visitor& visitor,
                const std::vector<rom_section>& sections, dsi_area dsi)
        : rom(rom), out(out), visitor(visitor), sections(sections),
          header(rom.header().begin(), rom.header().end()), fat(rom.fat_bytes()),
          arm9_ovt(rom.arm9_ovt_bytes()), arm7_ovt(rom.arm7_ovt_bytes()), dsi(std::move(dsi))
    {
    }
    ~rom_rebuild() { visitor.drop_ahead(); }
    rom_rebuild(const rom_rebuild&) = delete;
    rom_rebuild& operator=(const rom_rebuild&) = delete;

    // The sections in list order, each once.
    void add(const rom_section& section)
    {
        const std::size_t turn = next_turn++;
        visitor.enter_section(section.code);
        offer_ahead(turn);
        const std::uint64_t start = section_start(layout_end);
        const std::uint16_t kind = section_kind_of(section.code);
        bytes contents;
        switch (kind) {
        case section_kind::header:
        case section_kind::fnt:
        case section_kind::fat:
        case section_kind::arm9_ovt:
        case section_kind::arm7_ovt:
            contents = rom.read_range(section.offset, section.size); // copied as stored
            break;
        case section_kind::arm9_overlay:
        case section_kind::arm7_overlay:
            if (std::optional<bytes> rebuilt = rebuild_overlay(section, start)) {
                contents = std::move(*rebuilt);
                break;
            }
            layout_end = section_end(start, section.size);
            return;
        default:
            if (!begun.empty() && begun.front() == turn) {
                begun.pop_front();
                contents = visitor.end_ahead(section.code);
                break;
            }
            if (visitor.passes_through(section.code)) {
                const std::uint64_t end = section_end(start, section.size);
                copy_unchanged(section.offset, section.size, start);
                place(section, static_cast<std::uint32_t>(start), section.size);
                layout_end = end;
                return;
            }
            contents = visitor.visit(read_section_contents(rom, section), section.code);
            break;
        }
        const std::uint64_t end = section_end(start, contents.size());
        if (!contents.empty()) {
            const timed_phase timing(job_phase::writing);
            out.seekp(static_cast<std::streamoff>(start));
            out.write(reinterpret_cast<const char*>(contents.data()),
                      static_cast<std::streamsize>(contents.size()));
            written_end = end;
        }
        place(section, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(contents.size()));
        layout_end = end;
    }

    void finish()
    {
        // The used size covers the DS sections; a DSi area follows them, unchanged.
        put_le32(header, nds::hdr_used_rom_size, static_cast<std::uint32_t>(layout_end));
        const std::uint64_t dsi_start = dsi.place_after(layout_end);
        const std::uint64_t image_end = dsi.empty() ? layout_end : section_end(dsi_start, dsi.size());
        const unsigned exponent = image_size_exponent(image_end);
        put_u8(header, nds::hdr_capacity, capacity_code(exponent));

        visitor.enter_section(make_section_code(section_kind::padding));
        bytes dsi_fields;
        if (!dsi.empty()) {
            copy_unchanged(dsi.offset(), dsi.size(), dsi_start);
            dsi_fields = dsi.relocate(header, dsi_start, layout_end);
        }
        // Gaps were skipped by seeking, so they read as zero; the padding up to the power of two
        // is made the same way, by writing its last byte.
        const std::uint64_t image_size = std::uint64_t{1} << exponent;
        const timed_phase timing(job_phase::writing);
        if (written_end < image_size) {
            out.seekp(static_cast<std::streamoff>(image_size - 1));
            out.put(0);
        }

        put_le16(header, nds::hdr_crc16, crc16(byte_span(header).first(nds::hdr_crc16)));
        write_at(0, header);
        write_at(dsi_area::extended_header_offset, dsi_fields);
        write_at(get_le32(header, nds::hdr_fat_offset), fat);
        write_at(get_le32(header, nds::hdr_arm9_ovt_offset), arm9_ovt);
        write_at(get_le32(header, nds::hdr_arm7_ovt_offset), arm7_ovt);
    }

private:
    // Offers the visitor the sections it may begin on before their turn (see rom_visitor), from
    // the current one on, until it wants to wait.
    void offer_ahead(std::size_t turn)
    {
        for (offered = std::max(offered, turn); offered < sections.size(); ++offered) {
            const rom_section& s = sections[offered];
            const std::uint16_t kind = section_kind_of(s.code);
            if (kind != section_kind::arm9 && kind != section_kind::arm7 && kind != section_kind::file &&
                kind != section_kind::banner)
                continue;
            const rom_visitor::ahead answer = visitor.wants_ahead(s.code, s.size);
            if (answer == rom_visitor::ahead::later)
                return;
            if (answer == rom_visitor::ahead::never)
                continue;
            bytes contents;
            try {
                contents = read_section_contents(rom, s);
            } catch (...) {
                // Read again at its turn, and failing there if it fails again.
                rom.clear();
                continue;
            }
            visitor.begin_ahead(std::move(contents), s.code);
            begun.push_back(offered);
        }
    }

    // The overlay as the visitor returns it, packed again when its entry says it is stored
    // compressed; updates the entry it came from and the FAT entry of its file. Nothing when the
    // overlay went through unchanged, already written.
    std::optional<bytes> rebuild_overlay(const rom_section& section, std::uint64_t start)
    {
        bytes& table = section_kind_of(section.code) == section_kind::arm9_overlay ? arm9_ovt : arm7_ovt;
        const std::size_t entry = std::size_t{section.entry} * nds::ovt_entry_length;
        const std::uint32_t file = get_le32(table, entry + nds::ovt_file_id);
        const std::uint32_t stored_word = get_le32(table, entry + nds::ovt_stored);
        const bool compressed = overlay_is_compressed(byte_span(table).subspan(entry, nds::ovt_entry_length));

        if (!compressed && visitor.passes_through(section.code)) {
            const std::uint64_t end = section_end(start, section.size);
            copy_unchanged(section.offset, section.size, start);
            put_le32(table, entry + nds::ovt_ram_size, section.size);
            set_fat_entry(file, start, end);
            return std::nullopt;
        }
        bytes contents = visitor.visit(read_section_contents(rom, section), section.code);
        const std::uint64_t ram_size = contents.size();
        if (compressed) {
            const timed_phase timing(job_phase::lz_packing);
            contents = nds_lz_comp(contents);
            put_le32(table, entry + nds::ovt_stored, overlay_stored_word(stored_word, contents.size()));
        }
        const std::uint64_t end = section_end(start, contents.size());
        put_le32(table, entry + nds::ovt_ram_size, static_cast<std::uint32_t>(ram_size));
        set_fat_entry(file, start, end);
        return contents;
    }

    void place(const rom_section& section, std::uint32_t start, std::uint32_t length)
    {
        const auto set = [&](std::size_t offset_field, std::size_t size_field) {
            put_le32(header, offset_field, start);
            put_le32(header, size_field, length);
        };
        switch (section_kind_of(section.code)) {
        case section_kind::arm9:
            set(nds::hdr_arm9_offset, nds::hdr_arm9_size);
            // The footer's 12 bytes are not counted in the binary's size.
            if (rom.has_arm9_footer() && length >= nds::arm9_footer_length)
                put_le32(header, nds::hdr_arm9_size, length - nds::arm9_footer_length);
            break;
        case section_kind::arm7:
            set(nds::hdr_arm7_offset, nds::hdr_arm7_size);
            break;
        case section_kind::fnt:
            set(nds::hdr_fnt_offset, nds::hdr_fnt_size);
            break;
        case section_kind::fat:
            set(nds::hdr_fat_offset, nds::hdr_fat_size);
            break;
        case section_kind::arm9_ovt:
            set(nds::hdr_arm9_ovt_offset, nds::hdr_arm9_ovt_size);
            break;
        case section_kind::arm7_ovt:
            set(nds::hdr_arm7_ovt_offset, nds::hdr_arm7_ovt_size);
            break;
        case section_kind::banner:
            put_le32(header, nds::hdr_banner_offset, start);
            break;
        case section_kind::file:
            set_fat_entry(section.entry, start, std::uint64_t{start} + length);
            break;
        default: // the header stays at 0; overlays were placed while they were packed
            break;
        }
    }

    void set_fat_entry(std::uint32_t file, std::uint64_t start, std::uint64_t end)
    {
        const std::size_t entry = std::size_t{file} * nds::fat_entry_length;
        put_le32(fat, entry, static_cast<std::uint32_t>(start));
        put_le32(fat, entry + 4, static_cast<std::uint32_t>(end));
    }

    // Bytes of the source as stored, copied a block at a time to their place in the output.
    void copy_unchanged(std::uint32_t offset, std::uint32_t size, std::uint64_t start)
    {
        if (size == 0)
            return;
        if (!in_bounds(rom.size(), offset, size))
            throw std::runtime_error("nds_rom::read_range failed - range outside the input file");
        if (visitor.places_unchanged(offset, size, start))
            return; // a gap for the visitor to fill, as if skipped by seeking
        block.resize(std::min<std::size_t>(size, copy_block));
        {
            const timed_phase timing(job_phase::writing);
            out.seekp(static_cast<std::streamoff>(start));
        }
        for (std::uint32_t done = 0; done < size;) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(size - done, block.size()));
            {
                const timed_phase timing(job_phase::reading);
                rom.seekg(offset + done);
                rom.read(reinterpret_cast<char*>(block.data()), n);
            }
            const timed_phase timing(job_phase::writing);
            out.write(reinterpret_cast<const char*>(block.data()), n);
            done += n;
        }
        written_end = start + size;
    }

    void write_at(std::uint32_t offset, const bytes& data)
    {
        if (data.empty())
            return;
        out.seekp(offset);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }

    nds_rom& rom;
    std::ofstream& out;
    rom_visitor& visitor;
    const std::vector<rom_section>& sections;
    std::size_t next_turn = 0;     // the index of the next section added
    std::size_t offered = 0;       // the next section to offer ahead
    std::deque<std::size_t> begun; // sections begun ahead and not ended, in order
    bytes header;
    bytes fat;
    bytes arm9_ovt;
    bytes arm7_ovt;
    dsi_area dsi;
    std::uint64_t layout_end = 0;  // the end of the last section placed
    std::uint64_t written_end = 0; // the end of the last bytes actually written
    bytes block;                   // for sections copied unchanged
};

} // namespace

pending_output nds_rom::copy_to(const std::filesystem::path& destination, rom_visitor& visitor)
{
    // The file is written under another name and renamed at the end. The rename could not
    // replace a folder, and would replace a file this user may not write; both are refused here,
    // before any section is handled. Opening an existing file to write, without truncating it,
    // asks the system exactly that.
    std::error_code error;
    if (std::filesystem::is_directory(destination, error))
        throw std::runtime_error("nds_rom::copy_to failed - can't open output file");
    if (std::filesystem::exists(destination, error)) {
        std::ofstream probe(destination, std::ios::binary | std::ios::in | std::ios::out);
        if (!probe)
            throw std::runtime_error("nds_rom::copy_to failed - can't open output file");
    }
    const std::vector<rom_section> sections = list_sections();
    dsi_area dsi = dsi_area::of(*this, sections); // refused here when it cannot be carried over

    // Declared before the stream, so that on an error the stream is closed before the temporary
    // file is removed.
    pending_output output(destination);
    std::ofstream out(output.temporary_path(), std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("nds_rom::copy_to failed - can't open output file");
    out.exceptions(std::ios::failbit | std::ios::badbit);

    rom_rebuild rebuild(*this, out, visitor, sections, std::move(dsi));
    for (const rom_section& section : sections)
        rebuild.add(section);
    rebuild.finish();
    const timed_phase timing(job_phase::writing);
    out.close(); // a failed flush or close throws here, before anything is handed back
    return output;
}

} // namespace qm
