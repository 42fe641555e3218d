#include "tools/make_patch.h"

#include "cpk/cpk_builder.h"
#include "cpk/cpk_visit.h"
#include "engine/char_table.h"
#include "engine/crc32.h"
#include "engine/font_depth.h"
#include "engine/patch_archive.h"
#include "engine/patch_format.h"
#include "engine/patch_listener.h"
#include "engine/patcher.h"
#include "engine/script_font.h"
#include "rom/fnt.h"
#include "rom/nds_rom.h"
#include "rom/section_contents.h"
#include "vcdiff/vcdiff_encoder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

namespace qm {

using namespace patch_format;

namespace {

// The chunk header before a script entry's container.
constexpr std::size_t chunk_header_length = 16;

std::string label_of(const nds_rom& rom, std::uint32_t code)
{
    char buf[32];
    switch (section_kind_of(code)) {
    case section_kind::arm9:
        return "ARM9 binary";
    case section_kind::arm7:
        return "ARM7 binary";
    case section_kind::banner:
        return "Banner";
    case section_kind::header:
        return "Header";
    case section_kind::fnt:
        return "FNT";
    case section_kind::fat:
        return "FAT";
    case section_kind::arm9_ovt:
        return "ARM9 OVT";
    case section_kind::arm7_ovt:
        return "ARM7 OVT";
    case section_kind::file:
        return "/" + rom.fid_to_string(section_id_of(code)); // as the archive names it
    case section_kind::arm9_overlay:
    case section_kind::arm7_overlay:
        std::snprintf(buf, sizeof buf, "OVL%d-%04u",
                      section_kind_of(code) == section_kind::arm9_overlay ? 9 : 7,
                      static_cast<unsigned>(section_id_of(code)));
        return buf;
    default:
        std::snprintf(buf, sizeof buf, "section 0x%08X", static_cast<unsigned>(code));
        return buf;
    }
}

// Kinds that the writer copies as stored and rewrites itself: no patch can touch them.
bool writer_owned(std::uint16_t kind)
{
    return kind == section_kind::header || kind == section_kind::fnt || kind == section_kind::fat ||
           kind == section_kind::arm9_ovt || kind == section_kind::arm7_ovt;
}

std::vector<bytes> archive_entries(byte_span archive, std::vector<std::uint32_t>* ids = nullptr)
{
    std::vector<bytes> out;
    cpk_visit(archive, [&](std::uint32_t id, byte_span data) {
        out.emplace_back(data.begin(), data.end());
        if (ids)
            ids->push_back(id);
    });
    return out;
}

class author {
public:
    author() : index(make_char_index()) {}

    // The container of `now` when it is exactly the script entry that the patcher rebuilds from
    // `old` keeping `prefix_length` bytes.
    std::optional<bytes> script_container(const bytes& old, const bytes& now, std::size_t prefix_length) const
    {
        if (prefix_length > old.size() || !in_bounds(now.size(), prefix_length, chunk_header_length))
            return std::nullopt;
        if (!std::equal(old.begin(), old.begin() + static_cast<std::ptrdiff_t>(prefix_length), now.begin()))
            return std::nullopt;
        const byte_span chunk = byte_span(now).subspan(prefix_length);
        if (chunk[0] != 'D' || chunk[1] != 'C' || chunk[2] != 'M' || chunk[3] != 0)
            return std::nullopt;
        const std::uint32_t container_length = get_le32(chunk, 4);
        if (!in_bounds(chunk.size(), chunk_header_length, container_length))
            return std::nullopt;
        bytes container(chunk.begin() + chunk_header_length,
                        chunk.begin() + chunk_header_length + container_length);
        try {
            const bytes rebuilt = assemble_script_entry(old, static_cast<std::uint32_t>(prefix_length),
                                                        container, build_font(used_chars(index, container)));
            if (rebuilt == now)
                return container;
        } catch (const std::runtime_error&) {
            // Not a container the font builder accepts: not a script entry.
        }
        return std::nullopt;
    }

    static bool is_font_redraw(const bytes& old, const bytes& now)
    {
        try {
            return convert_font_to_1bpp(old) == now;
        } catch (const std::runtime_error&) {
            return false; // not a font
        }
    }

    // Appends the list entry for one changed archive entry.
    void add_entry(std::vector<std::uint32_t>& body, std::uint32_t id, const bytes& old, const bytes& now)
    {
        body.push_back(id);
        body.push_back(crc32(old));
        std::optional<bytes> container;
        if (old.size() >= script_prefix_length_field + 4)
            container = script_container(old, now, get_le32(old, script_prefix_length_field));
        if (container) {
            note_missing_glyphs(id, *container);
            add_typed(body, script_with_prefix, std::move(*container));
            return;
        }
        if ((container = script_container(old, now, 0))) {
            note_missing_glyphs(id, *container);
            add_typed(body, script_without_prefix, std::move(*container));
            return;
        }
        if (is_font_redraw(old, now)) {
            body.push_back(font_1bpp);
            ++report.entries_by_type[font_1bpp];
            return;
        }
        if (old.empty()) {
            add_typed(body, filled, now);
            return;
        }
        bytes d = vcdiff_encode(old, now);
        if (d.size() < now.size())
            add_typed(body, delta, std::move(d));
        else
            add_typed(body, whole, now);
    }

    // The entry list for a changed archive, or nothing when rebuilding it entry by entry does not
    // give the translation.
    std::optional<std::vector<std::uint32_t>> entry_list(const bytes& old_archive, const bytes& new_archive,
                                                         std::string& summary)
    {
        std::vector<std::uint32_t> ids;
        std::vector<bytes> old_entries, new_entries;
        try {
            old_entries = archive_entries(old_archive, &ids);
            new_entries = archive_entries(new_archive);
        } catch (const std::runtime_error&) {
            return std::nullopt;
        }
        if (new_entries.size() < old_entries.size())
            return std::nullopt;
        cpk_builder rebuilt;
        for (const bytes& e : new_entries)
            rebuilt.add_file(e);
        if (rebuilt.write() != new_archive)
            return std::nullopt;

        const auto before = report.entries_by_type;
        std::vector<std::uint32_t> body{entry_list_record};
        std::uint32_t changed = 0;
        for (std::size_t k = 0; k < old_entries.size(); ++k)
            if (old_entries[k] != new_entries[k]) {
                add_entry(body, ids[k], old_entries[k], new_entries[k]);
                ++changed;
            }
        for (std::size_t k = old_entries.size(); k < new_entries.size(); ++k) {
            body.push_back(append_marker);
            body.push_back(builder.add_blob(new_entries[k]));
        }
        const auto appended = static_cast<std::uint32_t>(new_entries.size() - old_entries.size());
        report.append_items += appended;
        steps += static_cast<std::uint32_t>(old_entries.size()) + appended;

        std::ostringstream s;
        s << "entry list, " << changed << " of " << old_entries.size() << " entries changed (";
        const char* names[] = {"script+prefix", "script", "whole", "delta", "font 1bpp", "filled"};
        bool first = true;
        for (std::size_t t = 0; t < 6; ++t)
            if (const auto n = report.entries_by_type[t] - before[t]) {
                s << (first ? "" : ", ") << n << " " << names[t];
                first = false;
            }
        s << "), " << appended << " appended";
        summary = s.str();
        return body;
    }

    // The entry becomes a script with a font generated from the built-in one: every character
    // that font lacks is noted.
    void note_missing_glyphs(std::uint32_t id, const bytes& container)
    {
        for (const missing_glyph& g : glyphs_missing_from_font(index, container))
            missing_glyphs.push_back({current_archive, id, g});
    }

    void add_typed(std::vector<std::uint32_t>& body, entry_type type, bytes blob)
    {
        body.push_back(type);
        body.push_back(builder.add_blob(std::move(blob)));
        ++report.entries_by_type[type];
    }

    archive_builder builder;
    patch_report report;
    std::vector<card_section> card_sections; // the changed sections, in the order of the ROM
    std::uint32_t steps = 0;
    std::string current_archive; // the path of the archive whose entries are being compared
    std::vector<script_glyph_gap> missing_glyphs;

private:
    char_index_map index;
};

// Counts nothing and shows nothing; remembers the total and the last position.
class quiet_listener : public silent_listener {
public:
    void set_total(std::uint32_t t) override { total = t; }
    void set_position(std::uint32_t p) override { last_position = p; }

    std::uint32_t total = 0;
    std::uint32_t last_position = 0;
};

std::filesystem::path scratch_path()
{
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::filesystem::temp_directory_path() /
           ("quillmoor-make-patch-" + std::to_string(stamp) + "-" + std::to_string(counter++) + ".nds");
}

// The first offset at which the two files differ, or nothing.
std::optional<std::uint64_t> first_difference(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb)
        throw std::runtime_error("make-patch - can't read back " + (!fa ? a : b).string());
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (std::uint64_t offset = 0;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        const auto na = static_cast<std::size_t>(fa.gcount()), nb = static_cast<std::size_t>(fb.gcount());
        const std::size_t n = std::min(na, nb);
        const auto mismatch =
            std::mismatch(ba.begin(), ba.begin() + static_cast<std::ptrdiff_t>(n), bb.begin());
        if (mismatch.first != ba.begin() + static_cast<std::ptrdiff_t>(n))
            return offset + static_cast<std::uint64_t>(mismatch.first - ba.begin());
        if (na != nb)
            return offset + n;
        if (na == 0)
            return std::nullopt;
        offset += n;
    }
}

// Patches the original with the archive and compares the result with the translation.
void verify(const std::filesystem::path& original, const std::filesystem::path& translated,
            const bytes& packed, std::uint32_t total_steps)
{
    const std::filesystem::path out = scratch_path();
    struct remover {
        const std::filesystem::path& p;
        ~remover()
        {
            std::error_code ec;
            std::filesystem::remove(p, ec);
        }
    } cleanup{out};

    patcher engine;
    quiet_listener listener;
    try {
        engine.run_patch_job(original, out, packed, listener);
    } catch (const std::exception& e) {
        throw std::runtime_error(
            std::string("make-patch - verification failed: patching the original fails: ") + e.what());
    }
    if (auto at = first_difference(out, translated)) {
        std::ostringstream s;
        s << "make-patch - verification failed: the patched original differs from the translation at offset "
             "0x"
          << std::hex << *at;
        nds_rom rom(translated);
        for (const rom_section& section : rom.list_sections())
            if (*at >= section.offset && *at - section.offset < section.size) {
                s << " (" << label_of(rom, section.code) << ")";
                break;
            }
        throw std::runtime_error(s.str());
    }
    if (listener.total != total_steps || listener.last_position + 1 != total_steps)
        throw std::runtime_error("make-patch - verification failed: the job took " +
                                 std::to_string(listener.last_position + 1) +
                                 " steps, the archive announces " + std::to_string(listener.total));
}

} // namespace

authored_patch make_patch(const std::filesystem::path& original_path,
                          const std::filesystem::path& translated_path)
{
    nds_rom original(original_path);
    nds_rom translated(translated_path);
    if (original.fnt_bytes() != translated.fnt_bytes())
        throw std::runtime_error(
            "make-patch - the translation's file names differ from the original's: a patch can "
            "change files, not add, remove or rename them");
    const std::vector<rom_section> sections = original.list_sections();
    std::unordered_map<std::uint32_t, rom_section> translated_sections;
    for (const rom_section& s : translated.list_sections())
        translated_sections.emplace(s.code, s);
    if (translated_sections.size() != sections.size())
        throw std::runtime_error("make-patch - the two ROMs do not have the same sections");

    author a;
    a.steps = static_cast<std::uint32_t>(sections.size()) + 1; // every section, then the padding
    for (const rom_section& s : sections) {
        const std::uint16_t kind = section_kind_of(s.code);
        auto t = translated_sections.find(s.code);
        if (t == translated_sections.end())
            throw std::runtime_error("make-patch - the translation has no " + label_of(original, s.code));
        if (writer_owned(kind))
            continue;
        const bytes old = read_section_contents(original, s);
        const bytes now = read_section_contents(translated, t->second);
        if (old == now)
            continue;
        // The archive keys a file's record by its path: a FAT entry that no name reaches (possible
        // in real ROMs, and editable in an unpacked folder) cannot be patched.
        if (kind == section_kind::file &&
            (s.entry > UINT16_MAX || !fnt_path_of(original.fnt_bytes(), static_cast<std::uint16_t>(s.entry))))
            throw std::runtime_error("make-patch - file " + std::to_string(s.entry) +
                                     " differs, but the file-name table does not name it: a patch can only "
                                     "change files that have a path");
        const std::string label = label_of(original, s.code);
        card_section changed{s.code, crc32(old), crc32(now), {}};
        if (kind == section_kind::file)
            changed.path = original.fid_to_string(section_id_of(s.code));
        a.card_sections.push_back(std::move(changed));
        std::string summary;
        std::optional<std::vector<std::uint32_t>> body;
        if (kind == section_kind::file && old.size() >= 4 && old[0] == 'C' && old[1] == 'P' &&
            old[2] == 'K' && old[3] == ' ') {
            a.current_archive = original.fid_to_string(section_id_of(s.code));
            body = a.entry_list(old, now, summary);
        }
        if (body) {
            ++a.report.entry_lists;
        } else {
            bytes d = vcdiff_encode(old, now);
            summary = "delta, " + std::to_string(d.size()) + " bytes (" + std::to_string(old.size()) +
                      " -> " + std::to_string(now.size()) + ")";
            body = std::vector<std::uint32_t>{delta_record, crc32(old), a.builder.add_blob(std::move(d))};
            ++a.report.delta_records;
        }
        if (kind == section_kind::file)
            a.builder.add_file_record(label, std::move(*body));
        else
            a.builder.add_record(s.code, std::move(*body));
        a.report.changes.push_back(label + ": " + summary);
    }
    a.builder.set_total_steps(a.steps);

    const bytes unpacked = a.builder.build();
    authored_patch result;
    result.packed = pack_archive(unpacked);
    result.report = std::move(a.report);
    patch_report& r = result.report;
    r.records = static_cast<std::uint32_t>(a.builder.record_count());
    r.blobs = static_cast<std::uint32_t>(a.builder.blob_count());
    r.unpacked_bytes = unpacked.size();
    r.packed_bytes = result.packed.size();
    r.total_steps = a.steps;
    r.translated_bytes = std::filesystem::file_size(translated_path);

    verify(original_path, translated_path, result.packed, r.total_steps);
    result.card.original = fingerprint_file(original_path);
    result.card.translated = fingerprint_file(translated_path);
    result.card.sections = std::move(a.card_sections);
    result.missing_glyphs = std::move(a.missing_glyphs);
    return result;
}

std::string format_patch_report(const patch_report& r)
{
    std::ostringstream s;
    for (const std::string& c : r.changes)
        s << "  " << c << "\n";
    const auto& t = r.entries_by_type;
    std::uint32_t entries = 0;
    for (auto n : t)
        entries += n;
    s << "records:     " << r.records << " (" << r.delta_records << " delta, " << r.entry_lists
      << " CPK entry lists)\n";
    s << "entries:     " << entries << " (type 0 script with prefix " << t[0]
      << ", type 1 script without prefix " << t[1] << ", type 2 whole " << t[2] << ", type 3 delta " << t[3]
      << ", type 4 font to 1 bpp " << t[4] << ", type 5 filled placeholder " << t[5] << "), "
      << r.append_items << " appended\n";
    s << "blobs:       " << r.blobs << "\n";
    s << "archive:     " << r.unpacked_bytes << " bytes unpacked, " << r.packed_bytes << " bytes packed\n";
    s << "total steps: " << r.total_steps << "\n";
    s << "verified:    patching the original gives the translation byte for byte (" << r.translated_bytes
      << " bytes)\n";
    return s.str();
}

} // namespace qm
