#include "tools/sample_game.h"

#include "common/file_io.h"
#include "rom/file_sink.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "tools/homebrew_programs.h"
#include "tools/rom_description_generator.h"
#include "tools/rom_image_builder.h"
#include "tools/sample_archives.h"
#include "tools/sample_data.h"
#include "tools/sample_text.h"

#include <algorithm>
#include <array>
#include <functional>
#include <future>
#include <unordered_map>

namespace qm {

namespace {

constexpr std::uint64_t arm9_purpose = 0x10;
constexpr std::uint64_t overlay_purpose = 0x20;
constexpr std::uint64_t files_purpose = 0x30;
constexpr std::uint64_t banner_purpose = 0x40;

constexpr std::uint64_t mib = 1u << 20;

// Menu strings of the ARM9 and of the translated overlays, in fixed slots of 24 UTF-16 units.
constexpr std::size_t string_slot_units = 24;
constexpr std::array<std::pair<const char*, const char*>, 16> menu_strings = {{
    {"New Game", "Nouvelle partie"},
    {"Continue", "Continuer"},
    {"Options", "Options"},
    {"Save", "Sauvegarder"},
    {"Load", "Charger"},
    {"Inventory", "Inventaire"},
    {"Journal", "Carnet de route"},
    {"Map", "Carte"},
    {"Quit", "Quitter"},
    {"Yes", "Oui"},
    {"No", "Non"},
    {"Settings", "Réglages"},
    {"Text speed", "Vitesse du texte"},
    {"Sound volume", "Volume sonore"},
    {"Language", "Langue"},
    {"Credits", "Crédits"},
}};

bytes string_table(bool french)
{
    bytes out(menu_strings.size() * string_slot_units * 2, 0);
    for (std::size_t i = 0; i < menu_strings.size(); ++i)
        put_utf16_field(out, i * string_slot_units * 2,
                        utf16_of(french ? menu_strings[i].second : menu_strings[i].first), string_slot_units);
    return out;
}

void put_bytes(bytes& out, std::size_t offset, byte_span b)
{
    require_bounds(out.size(), offset, b.size());
    std::copy(b.begin(), b.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
}

// ARM9: the program, then its data (the menu strings at 0x100, then code-like bytes).
constexpr std::size_t arm9_length = 48 * 1024;
constexpr std::size_t arm9_strings_at = 0x100;
constexpr std::array<std::uint8_t, 8> arm9_footer = {0x00, 0x0B, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};

struct arm9_pair {
    bytes original, translated;
};

arm9_pair make_arm9(std::uint64_t seed)
{
    seeded_random random = sample_stream(seed, arm9_purpose);
    bytes original = code_like_bytes(random, arm9_length);
    put_bytes(original, 0, homebrew_arm9_red());
    std::fill(original.begin() + static_cast<std::ptrdiff_t>(homebrew_arm9_red().size()),
              original.begin() + static_cast<std::ptrdiff_t>(arm9_strings_at), 0);
    bytes translated = original;
    put_bytes(original, arm9_strings_at, string_table(false));
    put_bytes(translated, 0, homebrew_arm9_blue());
    put_bytes(translated, arm9_strings_at, string_table(true));
    return {std::move(original), std::move(translated)};
}

// ARM9 overlays: 0 to 11, some stored packed. Overlays 3, 7 and 10 hold menu strings that the
// translation changes; overlay 10 also gets a second table of its own.
constexpr std::uint32_t overlay_count = 12;
constexpr bool overlay_packed(std::uint32_t id)
{
    return id == 1 || id == 3 || id == 4 || id == 6 || id == 9 || id == 10;
}
constexpr bool overlay_translated(std::uint32_t id)
{
    return id == 3 || id == 7 || id == 10;
}
constexpr std::size_t overlay_strings_at = 0x200;

struct overlay_pair {
    rom_overlay overlay;
    std::optional<bytes> translated;
};

std::vector<overlay_pair> make_overlays(std::uint64_t seed)
{
    seeded_random random = sample_stream(seed, overlay_purpose);
    std::vector<overlay_pair> out;
    for (std::uint32_t id = 0; id < overlay_count; ++id) {
        overlay_pair o;
        o.overlay.id = id;
        o.overlay.compressed = overlay_packed(id);
        o.overlay.ram_address = 0x02100000;
        o.overlay.bss_size = static_cast<std::uint32_t>(random.between(0, 64) * 32);
        o.overlay.contents = code_like_bytes(random, random.between(6, 24) * 1024);
        if (overlay_translated(id)) {
            put_bytes(o.overlay.contents, overlay_strings_at, string_table(false));
            bytes translated = o.overlay.contents;
            put_bytes(translated, overlay_strings_at, string_table(true));
            if (id == 10)
                append_bytes(translated, string_table(true));
            o.translated = std::move(translated);
        }
        out.push_back(std::move(o));
    }
    return out;
}

// Banner: version 1, CRC-16 of 0x20-0x83F at 0x02, icon (4-bit 32x32) at 0x20, palette at 0x220,
// six titles of 128 UTF-16 units from 0x240 (Japanese, English, French, German, Italian, Spanish).
constexpr std::size_t banner_length = 0x840;
constexpr std::size_t banner_titles_at = 0x240;
constexpr std::size_t banner_title_units = 128;
constexpr std::size_t banner_french_title = 2;

void seal_banner(bytes& banner)
{
    put_le16(banner, 2, crc16(byte_span(banner).subspan(0x20)));
}

struct banner_pair {
    bytes original, translated;
};

banner_pair make_banner(std::uint64_t seed)
{
    seeded_random random = sample_stream(seed, banner_purpose);
    bytes banner(banner_length, 0);
    put_le16(banner, 0, 1);
    put_bytes(banner, 0x20, bulk_data(random, bulk_kind::tiles, 0x200));
    for (std::size_t i = 0; i < 16; ++i)
        put_le16(banner, 0x220 + 2 * i, static_cast<std::uint16_t>(random.below(0x8000)));
    const std::u16string english = u"Quillmoor\nThe Inkwell Chronicles\nQuillmoor Studio";
    for (std::size_t t = 0; t < 6; ++t)
        put_utf16_field(banner, banner_titles_at + t * banner_title_units * 2, english, banner_title_units);
    bytes translated = banner;
    put_utf16_field(translated, banner_titles_at + banner_french_title * banner_title_units * 2,
                    utf16_of("Quillmoor\nLes Chroniques de l’Encrier\nQuillmoor Studio"), banner_title_units);
    seal_banner(banner);
    seal_banner(translated);
    return {std::move(banner), std::move(translated)};
}

// data/staff.bin: the credits as UTF-16LE lines; the translation adds its own team.
bytes utf16_file(const std::vector<std::string>& lines)
{
    bytes out;
    for (const std::string& line : lines)
        for (char16_t c : utf16_of(line + "\n"))
            append_le16(out, static_cast<std::uint16_t>(c));
    return out;
}

const std::vector<std::string> staff_english = {"QUILLMOOR",
                                                "",
                                                "Director",
                                                "  Ada Penrose",
                                                "Script",
                                                "  Oswin Hale",
                                                "  Mirela Vant",
                                                "Art",
                                                "  Jun Okada",
                                                "  Petra Linde",
                                                "Music",
                                                "  Colm Ashby",
                                                "Programming",
                                                "  Ravi Menon",
                                                "  Hedda Strom",
                                                "",
                                                "Thank you for playing!"};
const std::vector<std::string> staff_french = {"QUILLMOOR",
                                               "",
                                               "Réalisation",
                                               "  Ada Penrose",
                                               "Scénario",
                                               "  Oswin Hale",
                                               "  Mirela Vant",
                                               "Graphismes",
                                               "  Jun Okada",
                                               "  Petra Linde",
                                               "Musique",
                                               "  Colm Ashby",
                                               "Programmation",
                                               "  Ravi Menon",
                                               "  Hedda Strom",
                                               "",
                                               "Traduction française",
                                               "  L’équipe Plume & Cœur",
                                               "Relecture",
                                               "  Noémie Duval",
                                               "",
                                               "Merci d’avoir joué !"};

// The plain files, in file-system order: folder, name stem, extension, count, contents.
struct file_group {
    const char* folder;
    const char* stem;
    const char* extension;
    std::uint32_t count;
    bulk_kind kind;
    std::uint32_t weight; // share of the files' bulk, per file (0: empty files)
};

constexpr file_group file_groups[] = {
    {"data/map", "map", ".bin", 60, bulk_kind::table, 2},
    {"data/map/event", "ev", ".bin", 40, bulk_kind::table, 1},
    {"data/param", "param", ".bin", 24, bulk_kind::table, 1},
    {"graphics/bg", "bg", ".ncgr", 40, bulk_kind::tiles, 4},
    {"graphics/obj", "obj", ".ncgr", 50, bulk_kind::tiles, 3},
    {"graphics/ui", "ui", ".nscr", 20, bulk_kind::tiles, 1},
    {"sound/bgm", "bgm", ".sseq", 30, bulk_kind::noise, 4},
    {"sound/se", "se", ".swav", 50, bulk_kind::noise, 2},
    {"movie", "mv", ".mods", 4, bulk_kind::noise, 8},
    {"debug", "dbg", ".bin", 6, bulk_kind::noise, 0},
    {"ui/layout", "layout", ".bin", 17, bulk_kind::table, 1},
};

constexpr const char* staff_path = "data/staff.bin";

// Adds a file at `path` ("a/b/name"), making the folders on the way.
void add_file(std::vector<rom_fs_node>& root, const std::string& path, bytes contents)
{
    std::vector<rom_fs_node>* dir = &root;
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
        const std::string name = path.substr(start, slash - start);
        auto it = std::find_if(dir->begin(), dir->end(),
                               [&](const rom_fs_node& n) { return n.is_directory && n.name == name; });
        if (it == dir->end()) {
            dir->push_back(rom_fs_node::directory(name));
            it = dir->end() - 1;
        }
        dir = &it->children;
    }
    dir->push_back(rom_fs_node::file(path.substr(start), std::move(contents)));
}

std::string numbered(const file_group& g, std::uint32_t i)
{
    std::string n = std::to_string(i);
    if (n.size() < 3)
        n.insert(0, 3 - n.size(), '0');
    return std::string(g.folder) + "/" + g.stem + n + g.extension;
}

// Hands the writer the translated sections; everything else passes unchanged.
class translating_visitor : public rom_visitor {
public:
    std::unordered_map<std::uint32_t, bytes> replacements; // section code -> contents

    bytes visit(const bytes& contents, std::uint32_t code) override
    {
        if (auto it = replacements.find(code); it != replacements.end())
            return it->second;
        return contents;
    }
    void enter_section(std::uint32_t) override {}
    bool passes_through(std::uint32_t code) override { return !replacements.contains(code); }
};

// Builds the archives side by side: packing their entries is most of the sample's making.
std::vector<bytes> build_all(const std::vector<sample_archive>& archives,
                             bytes (*build)(const sample_archive&))
{
    std::vector<std::future<bytes>> jobs;
    for (const sample_archive& a : archives)
        jobs.push_back(std::async(std::launch::async, build, std::cref(a)));
    std::vector<bytes> out;
    for (std::future<bytes>& job : jobs)
        out.push_back(job.get());
    return out;
}

std::uint64_t entry_bytes(const std::vector<sample_archive>& archives)
{
    std::uint64_t n = 0;
    for (const sample_archive& a : archives)
        for (const sample_entry& e : a.entries)
            n += e.original.size();
    return n;
}

} // namespace

sample_summary make_sample(const std::filesystem::path& dir, const sample_options& options)
{
    const std::uint64_t seed = options.seed;
    arm9_pair arm9 = make_arm9(seed);
    std::vector<overlay_pair> overlays = make_overlays(seed);
    banner_pair banner = make_banner(seed);
    std::vector<sample_archive> archives = make_sample_archives(seed);

    // Bulk: what the requested size leaves after the fixed part (7/8 of it, so that the image
    // does not spill into the next power of two); a third goes to the archives.
    std::uint64_t fixed = arm9.original.size() + entry_bytes(archives);
    for (const overlay_pair& o : overlays)
        fixed += o.overlay.contents.size();
    const std::uint64_t target = std::uint64_t{options.size_mib} * mib / 8 * 7;
    const std::uint64_t bulk = target > fixed ? target - fixed : 0;
    fill_bulk_entries(archives, seed, bulk / 3);

    rom_description d;
    d.title = "QLMOR";
    d.game_code = "YQLE";
    d.maker_code = "01";
    d.header_size = 0x4000;
    d.arm9 = arm9.original;
    d.arm9_footer = arm9_footer;
    d.arm7.assign(homebrew_arm7().begin(), homebrew_arm7().end());
    d.arm9_ram_address = d.arm9_entry_address = homebrew_arm9_address;
    d.arm7_ram_address = d.arm7_entry_address = homebrew_arm7_address;
    d.banner = banner.original;
    for (const overlay_pair& o : overlays)
        d.arm9_overlays.push_back(o.overlay);

    // File system: the archives and the staff file first, then the groups of plain files.
    std::uint32_t weight_total = 0;
    for (const file_group& g : file_groups)
        weight_total += g.count * g.weight;
    const std::uint64_t file_bulk = bulk - bulk / 3;
    seeded_random files_random = sample_stream(seed, files_purpose);
    std::vector<bytes> built_archives = build_all(archives, build_original_archive);
    for (std::size_t i = 0; i < archives.size(); ++i)
        add_file(d.root, archives[i].path, std::move(built_archives[i]));
    add_file(d.root, staff_path, utf16_file(staff_english));
    for (const file_group& g : file_groups) {
        // At least a little data per file, so that even the smallest sample has no empty files
        // other than the empty group's.
        const std::uint64_t share =
            std::max<std::uint64_t>(file_bulk * g.weight / weight_total, g.weight * 1024u);
        for (std::uint32_t i = 0; i < g.count; ++i) {
            const std::uint64_t length = share == 0 ? 0 : files_random.between(share / 2, share * 3 / 2);
            add_file(d.root, numbered(g, i), bulk_data(files_random, g.kind, length));
        }
    }

    std::filesystem::create_directories(dir);
    const std::filesystem::path original_path = dir / sample_original_name;
    sample_summary summary;
    {
        built_rom built = build_rom_image(d);
        write_whole_file(original_path, built.image);
        summary.original_bytes = built.image.size();
        summary.files = static_cast<std::uint32_t>(built.files.size());
        summary.directories = built.directory_count;
    }
    summary.overlays = overlay_count;
    summary.archives = static_cast<std::uint32_t>(archives.size());
    summary.archive_entries = sample_archive_entry_count();
    d = rom_description{}; // the image is on disk; the translation reads it back from there

    nds_rom rom(original_path);
    translating_visitor visitor;
    bytes arm9_translated = arm9.translated;
    append_le32(arm9_translated, nds::arm9_footer_magic);
    append_bytes(arm9_translated, arm9_footer);
    visitor.replacements[make_section_code(section_kind::arm9)] = std::move(arm9_translated);
    visitor.replacements[make_section_code(section_kind::banner)] = banner.translated;
    for (const overlay_pair& o : overlays)
        if (o.translated)
            visitor.replacements[make_section_code(section_kind::arm9_overlay,
                                                   static_cast<std::uint16_t>(o.overlay.id))] = *o.translated;
    visitor
        .replacements[make_section_code(section_kind::file, rom.get_file_id(std::string("/") + staff_path))] =
        utf16_file(staff_french);
    built_archives = build_all(archives, build_translated_archive);
    for (std::size_t i = 0; i < archives.size(); ++i)
        visitor.replacements[make_section_code(section_kind::file, rom.get_file_id("/" + archives[i].path))] =
            std::move(built_archives[i]);

    const std::filesystem::path translated_path = dir / sample_translation_name;
    file_sink sink(translated_path);
    rom.copy_to(sink, visitor);
    sink.commit();
    summary.translated_bytes = std::filesystem::file_size(translated_path);
    return summary;
}

} // namespace qm
