// copy_to: the rebuild. A first pass walks the sections in writing order, hands them to the
// visitor and lays them out, so that every header field and table entry is known; a second pass
// hands the finished image to the sink front to back. Changed sections are held in memory between
// the two passes, up to a budget past which the sink keeps them (a file writes them to their place
// at once); unchanged ones are only named, and copied from the source by the sink.

#include "common/phase_timer.h"
#include "lz/nds_lz.h"
#include "rom/dsi_area.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "rom/rom_layout.h"
#include "rom/section_contents.h"

#include <algorithm>
#include <deque>
#include <stdexcept>

namespace qm {

namespace {

// One section's place in the rebuilt image: its new contents (or, for the header and the tables,
// the working copy that is final only once every section is placed), then the bytes of the
// source it keeps unchanged right behind them.
struct placed_section {
    std::uint64_t at = 0;
    std::uint16_t kind = 0;
    bytes contents;
    std::uint64_t set_aside = 0;  // the length of contents the sink took in the first pass
    const bytes* table = nullptr; // the FAT or an overlay table
    std::uint32_t kept_from = 0;
    std::uint32_t kept_size = 0;
};

class rom_rebuild {
public:
    rom_rebuild(nds_rom& rom, rom_visitor& visitor, rom_sink& sink, const std::vector<rom_section>& sections,
                dsi_area dsi, std::uint64_t held_at_most)
        : rom(rom), visitor(visitor), sink(sink), sections(sections), held_at_most(held_at_most),
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
        placed_section placed;
        placed.at = section_start(layout_end);
        placed.kind = section_kind_of(section.code);
        switch (placed.kind) {
        case section_kind::header:
        case section_kind::fnt:
            keep(placed, section.offset, section.size); // copied as stored
            break;
        case section_kind::fat:
            placed.table = &fat;
            break;
        case section_kind::arm9_ovt:
            placed.table = &arm9_ovt;
            break;
        case section_kind::arm7_ovt:
            placed.table = &arm7_ovt;
            break;
        case section_kind::arm9_overlay:
        case section_kind::arm7_overlay:
            rebuild_overlay(section, placed);
            break;
        case section_kind::banner:
            // A later version's extra bytes follow the banner that the visitor sees, as stored.
            if (passes_through(section, turn)) {
                keep(placed, section.offset, section.size + rom.banner_extension());
            } else {
                placed.contents = visit(section, turn);
                keep(placed, section.offset + section.size, rom.banner_extension());
            }
            break;
        default:
            if (passes_through(section, turn))
                keep(placed, section.offset, section.size);
            else
                placed.contents = visit(section, turn);
            break;
        }
        const std::uint64_t length =
            placed.contents.size() + placed.kept_size + (placed.table ? placed.table->size() : 0);
        const std::uint64_t end = section_end(placed.at, length);
        place(section, static_cast<std::uint32_t>(placed.at), static_cast<std::uint32_t>(length));
        layout_end = end;
        hold(placed);
        image.push_back(std::move(placed));
    }

    // The header's own fields, then the whole image to the sink.
    void finish()
    {
        // The used size covers the DS sections; a DSi area follows them, unchanged.
        put_le32(header, nds::hdr_used_rom_size, static_cast<std::uint32_t>(layout_end));
        const std::uint64_t dsi_start = dsi.place_after(layout_end);
        const std::uint64_t image_end = dsi.carried() ? section_end(dsi_start, dsi.size()) : layout_end;
        const unsigned exponent = image_size_exponent(image_end);
        put_u8(header, nds::hdr_capacity, capacity_code(exponent));

        visitor.enter_section(make_section_code(section_kind::padding));
        bytes header_block = header;
        if (dsi.carried()) {
            const bytes fields = dsi.relocate(header_block, dsi_start, layout_end);
            header_block.insert(header_block.end(), fields.begin(), fields.end());
        }
        put_le16(header_block, nds::hdr_crc16, crc16(byte_span(header_block).first(nds::hdr_crc16)));

        for (const placed_section& s : image) {
            if (s.kind == section_kind::header) {
                // The header section as stored, its first bytes replaced by the working header.
                const std::uint32_t replaced = std::min<std::uint32_t>(s.kept_size, header_block.size());
                sink.write(0, byte_span(header_block).first(replaced));
                if (replaced < s.kept_size)
                    sink.keep(replaced, rom.source(), s.kept_from + replaced, s.kept_size - replaced);
                continue;
            }
            const byte_span contents = s.table ? byte_span(*s.table) : byte_span(s.contents);
            if (s.set_aside != 0)
                sink.put_back(s.at, s.set_aside);
            else if (!contents.empty())
                sink.write(s.at, contents);
            if (s.kept_size != 0)
                sink.keep(s.at + contents.size() + s.set_aside, rom.source(), s.kept_from, s.kept_size);
        }
        if (dsi.carried())
            sink.keep(dsi_start, rom.source(), dsi.offset(), dsi.size());
        sink.finish(std::uint64_t{1} << exponent);
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
                continue; // read again at its turn, and failing there if it fails again
            }
            visitor.begin_ahead(std::move(contents), s.code);
            begun.push_back(offered);
        }
    }

    bool passes_through(const rom_section& section, std::size_t turn)
    {
        return (begun.empty() || begun.front() != turn) && visitor.passes_through(section.code);
    }

    // The visitor's new contents for a section, begun ahead or handed over now.
    bytes visit(const rom_section& section, std::size_t turn)
    {
        if (!begun.empty() && begun.front() == turn) {
            begun.pop_front();
            return visitor.end_ahead(section.code);
        }
        return visitor.visit(read_section_contents(rom, section), section.code);
    }

    // New contents are held until the second pass, as long as they fit in the budget; past it,
    // the sink is asked to keep them itself.
    void hold(placed_section& placed)
    {
        if (placed.contents.empty())
            return;
        if (held + placed.contents.size() > held_at_most && sink.set_aside(placed.at, placed.contents)) {
            placed.set_aside = placed.contents.size();
            placed.contents = bytes();
            return;
        }
        held += placed.contents.size();
    }

    // Names `size` bytes of the source to be copied unchanged, behind the piece's contents.
    void keep(placed_section& placed, std::uint32_t offset, std::uint32_t size)
    {
        if (!in_bounds(rom.size(), offset, size))
            throw std::runtime_error("nds_rom::read_range failed - range outside the input file");
        placed.kept_from = offset;
        placed.kept_size = size;
    }

    // The overlay as the visitor returns it, packed again when its entry says it is stored
    // compressed; updates the entry it came from and the FAT entry of its file.
    void rebuild_overlay(const rom_section& section, placed_section& placed)
    {
        bytes& table = section_kind_of(section.code) == section_kind::arm9_overlay ? arm9_ovt : arm7_ovt;
        const std::size_t entry = std::size_t{section.entry} * nds::ovt_entry_length;
        const std::uint32_t file = get_le32(table, entry + nds::ovt_file_id);
        const std::uint32_t stored_word = get_le32(table, entry + nds::ovt_stored);
        const bool compressed = overlay_is_compressed(byte_span(table).subspan(entry, nds::ovt_entry_length));

        std::uint64_t ram_size = section.size;
        if (!compressed && visitor.passes_through(section.code)) {
            keep(placed, section.offset, section.size);
        } else {
            placed.contents = visitor.visit(read_section_contents(rom, section), section.code);
            ram_size = placed.contents.size();
            if (compressed) {
                const timed_phase timing(job_phase::lz_packing);
                placed.contents = nds_lz_comp(placed.contents);
                put_le32(table, entry + nds::ovt_stored,
                         overlay_stored_word(stored_word, placed.contents.size()));
            }
        }
        const std::uint64_t length = placed.contents.size() + placed.kept_size;
        put_le32(table, entry + nds::ovt_ram_size, static_cast<std::uint32_t>(ram_size));
        set_fat_entry(file, placed.at, section_end(placed.at, length));
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

    nds_rom& rom;
    rom_visitor& visitor;
    rom_sink& sink;
    const std::vector<rom_section>& sections;
    const std::uint64_t held_at_most;
    std::uint64_t held = 0;        // bytes of new contents held for the second pass
    std::size_t next_turn = 0;     // the index of the next section added
    std::size_t offered = 0;       // the next section to offer ahead
    std::deque<std::size_t> begun; // sections begun ahead and not ended, in order
    bytes header;
    bytes fat;
    bytes arm9_ovt;
    bytes arm7_ovt;
    dsi_area dsi;
    std::uint64_t layout_end = 0; // the end of the last section placed
    std::vector<placed_section> image;
};

} // namespace

void nds_rom::copy_to(rom_sink& sink, rom_visitor& visitor, std::uint64_t held_at_most)
{
    sink.begin();
    const std::vector<rom_section> sections = list_sections();
    rom_rebuild rebuild(*this, visitor, sink, sections, dsi_area::of(*this, sections), held_at_most);
    for (const rom_section& section : sections)
        rebuild.add(section);
    rebuild.finish();
}

} // namespace qm
