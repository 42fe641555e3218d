#include "tools/rom_image_builder.h"

#include "common/file_io.h"
#include "lz/nds_lz.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "tools/seeded_random.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace qm {

rom_fs_node rom_fs_node::file(std::string name, bytes contents)
{
    rom_fs_node node;
    node.name = std::move(name);
    node.contents = std::move(contents);
    return node;
}

rom_fs_node rom_fs_node::directory(std::string name, std::vector<rom_fs_node> children)
{
    rom_fs_node node;
    node.name = std::move(name);
    node.is_directory = true;
    node.children = std::move(children);
    return node;
}

namespace {

struct directory_info {
    const std::vector<rom_fs_node>* entries;
    std::uint32_t parent;
    std::string path;                   // with a trailing "/", empty for the root
    std::vector<std::uint32_t> subdirs; // index of each sub-directory entry, in entry order
    std::uint16_t first_file = 0;
};

// Numbers the directories depth-first from the root, as their ids will say.
void number_directories(std::vector<directory_info>& dirs, std::uint32_t index)
{
    for (const rom_fs_node& node : *dirs[index].entries) {
        if (!node.is_directory)
            continue;
        const auto child = static_cast<std::uint32_t>(dirs.size());
        if (child >= nds::max_directories)
            throw std::invalid_argument("rom image: more than 4096 directories");
        dirs[index].subdirs.push_back(child);
        dirs.push_back({&node.children, index, dirs[index].path + node.name + "/", {}});
        number_directories(dirs, child);
    }
}

void check_name(const rom_fs_node& node)
{
    const std::size_t min = node.is_directory ? 0 : 1;
    if (node.name.size() < min || node.name.size() > nds::fnt_name_mask)
        throw std::invalid_argument("rom image: bad name length for \"" + node.name + "\"");
}

struct file_system {
    bytes fnt;
    std::vector<const bytes*> contents; // named files, by id - first_named_id
    std::vector<built_rom_file> files;
    std::uint32_t directory_count = 0;
};

file_system build_file_system(const std::vector<rom_fs_node>& root, std::uint32_t first_id)
{
    std::vector<directory_info> dirs;
    dirs.push_back({&root, 0, "", {}});
    number_directories(dirs, 0);

    file_system fs;
    std::uint32_t next_id = first_id;
    for (directory_info& dir : dirs) {
        if (next_id > 0xFFFF)
            throw std::invalid_argument("rom image: more than 65536 files");
        dir.first_file = static_cast<std::uint16_t>(next_id);
        for (const rom_fs_node& node : *dir.entries) {
            check_name(node);
            if (node.is_directory)
                continue;
            if (next_id > 0xFFFF)
                throw std::invalid_argument("rom image: more than 65536 files");
            fs.files.push_back({dir.path + node.name, static_cast<std::uint16_t>(next_id++)});
            fs.contents.push_back(&node.contents);
        }
    }

    const auto count = static_cast<std::uint32_t>(dirs.size());
    fs.directory_count = count;
    bytes subtables;
    bytes& fnt = fs.fnt;
    for (std::uint32_t i = 0; i < count; ++i) {
        append_le32(fnt, count * nds::fnt_dir_entry_length + static_cast<std::uint32_t>(subtables.size()));
        append_le16(fnt, dirs[i].first_file);
        append_le16(fnt, i == 0 ? static_cast<std::uint16_t>(count)
                                : static_cast<std::uint16_t>(nds::dir_id_base + dirs[i].parent));
        std::size_t sub = 0;
        for (const rom_fs_node& node : *dirs[i].entries) {
            const auto length = static_cast<std::uint8_t>(node.name.size());
            subtables.push_back(node.is_directory ? static_cast<std::uint8_t>(nds::fnt_dir_flag | length)
                                                  : length);
            subtables.insert(subtables.end(), node.name.begin(), node.name.end());
            if (node.is_directory)
                append_le16(subtables, static_cast<std::uint16_t>(nds::dir_id_base + dirs[i].subdirs[sub++]));
        }
        subtables.push_back(nds::fnt_end);
    }
    append_bytes(fnt, subtables);
    return fs;
}

bytes stored_form(const rom_overlay& overlay)
{
    if (overlay.stored)
        return *overlay.stored;
    return overlay.compressed ? nds_lz_comp(overlay.contents) : overlay.contents;
}

// One contiguous piece of the image after the header section.
struct block {
    const bytes* data = nullptr; // set once tables are built
    std::uint64_t size = 0;
    std::uint32_t offset = 0;
};

void put_text(bytes& header, std::size_t offset, const std::string& text, std::size_t length,
              const char* what)
{
    if (text.size() > length)
        throw std::invalid_argument(std::string("rom image: ") + what + " too long");
    std::copy(text.begin(), text.end(), header.begin() + static_cast<std::ptrdiff_t>(offset));
}

} // namespace

built_rom build_rom_image(const rom_description& d)
{
    const rom_layout_options& layout = d.layout;
    if (layout.alignment == 0 || (layout.alignment & (layout.alignment - 1)) != 0)
        throw std::invalid_argument("rom image: alignment must be a power of two");
    if (d.banner && d.banner->size() != nds::banner_length &&
        std::none_of(std::begin(nds::later_banners), std::end(nds::later_banners),
                     [&](const nds::banner_layout& l) { return l.length == d.banner->size(); }))
        throw std::invalid_argument("rom image: a banner is 0x840 bytes, or as long as a later version's");

    built_rom result;
    const auto overlay_count = static_cast<std::uint32_t>(d.arm9_overlays.size() + d.arm7_overlays.size());
    for (std::uint32_t i = 0; i < overlay_count; ++i)
        (i < d.arm9_overlays.size() ? result.arm9_overlay_files : result.arm7_overlay_files)
            .push_back(static_cast<std::uint16_t>(i));
    file_system fs = build_file_system(d.root, overlay_count);
    result.files = fs.files;
    result.directory_count = fs.directory_count;

    std::vector<bytes> overlay_data;
    for (const auto* table : {&d.arm9_overlays, &d.arm7_overlays})
        for (const rom_overlay& overlay : *table)
            overlay_data.push_back(stored_form(overlay));

    bytes arm9 = d.arm9;
    if (d.arm9_footer) {
        append_le32(arm9, nds::arm9_footer_magic);
        append_bytes(arm9, *d.arm9_footer);
    }
    const std::uint32_t file_count = overlay_count + static_cast<std::uint32_t>(fs.contents.size());
    bytes fat(std::size_t{file_count} * nds::fat_entry_length);
    bytes arm9_ovt(d.arm9_overlays.size() * nds::ovt_entry_length);
    bytes arm7_ovt(d.arm7_overlays.size() * nds::ovt_entry_length);

    // Blocks in the usual order of a DS ROM; the indexes below name them.
    std::vector<block> blocks;
    const auto add = [&](const bytes* data) {
        blocks.push_back({data, data->size(), 0});
        return blocks.size() - 1;
    };
    const std::size_t arm9_block = add(&arm9);
    const std::size_t arm9_ovt_block = arm9_ovt.empty() ? SIZE_MAX : add(&arm9_ovt);
    const std::size_t first_overlay_block = blocks.size();
    for (std::size_t i = 0; i < d.arm9_overlays.size(); ++i)
        add(&overlay_data[i]);
    const std::size_t arm7_block = add(&d.arm7);
    const std::size_t arm7_ovt_block = arm7_ovt.empty() ? SIZE_MAX : add(&arm7_ovt);
    for (std::size_t i = d.arm9_overlays.size(); i < overlay_data.size(); ++i)
        add(&overlay_data[i]);
    const std::size_t fnt_block = add(&fs.fnt);
    const std::size_t fat_block = add(&fat);
    const std::size_t banner_block = d.banner ? add(&*d.banner) : SIZE_MAX;
    const std::size_t first_file_block = blocks.size();
    for (const bytes* contents : fs.contents)
        add(contents);
    const auto overlay_block = [&](std::size_t i) {
        return i < d.arm9_overlays.size() ? first_overlay_block + i
                                          : first_overlay_block + i + 1 + !arm7_ovt.empty();
    };

    std::vector<std::size_t> order(blocks.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    if (layout.shuffle_seed != 0) {
        seeded_random random(layout.shuffle_seed);
        for (std::size_t i = order.size(); i > 1; --i)
            std::swap(order[i - 1], order[random.below(i)]);
    }

    const std::uint64_t header_section = std::max(d.header_size, nds::min_header_section);
    std::uint64_t pos = header_section;
    std::uint64_t used_end = header_section;
    for (std::size_t i : order) {
        pos = round_up(pos, layout.alignment);
        blocks[i].offset = static_cast<std::uint32_t>(pos);
        pos += blocks[i].size;
        used_end = pos;
        pos += layout.gap;
        if (pos > std::numeric_limits<std::uint32_t>::max())
            throw std::invalid_argument("rom image: 4 GiB or more");
    }

    for (std::uint32_t id = 0; id < file_count; ++id) {
        const block& b =
            id < overlay_count ? blocks[overlay_block(id)] : blocks[first_file_block + id - overlay_count];
        put_le32(fat, std::size_t{id} * nds::fat_entry_length, b.offset);
        put_le32(fat, std::size_t{id} * nds::fat_entry_length + 4,
                 static_cast<std::uint32_t>(b.offset + b.size));
    }
    std::uint32_t overlay_file = 0;
    for (auto [overlays, table] :
         {std::pair{&d.arm9_overlays, &arm9_ovt}, std::pair{&d.arm7_overlays, &arm7_ovt}}) {
        for (std::size_t i = 0; i < overlays->size(); ++i, ++overlay_file) {
            const rom_overlay& o = (*overlays)[i];
            const std::size_t e = i * nds::ovt_entry_length;
            const auto stored_size = static_cast<std::uint32_t>(overlay_data[overlay_file].size());
            put_le32(*table, e + nds::ovt_id, o.id);
            put_le32(*table, e + nds::ovt_ram_address, o.ram_address);
            put_le32(*table, e + nds::ovt_ram_size, static_cast<std::uint32_t>(o.contents.size()));
            put_le32(*table, e + nds::ovt_bss_size, o.bss_size);
            put_le32(*table, e + nds::ovt_sinit_start, o.sinit_start);
            put_le32(*table, e + nds::ovt_sinit_end, o.sinit_end);
            put_le32(*table, e + nds::ovt_file_id, overlay_file);
            const std::uint32_t flag_byte = (o.compressed ? nds::ovt_flag_compressed : 0) | o.other_flags;
            put_le32(*table, e + nds::ovt_stored,
                     flag_byte != 0
                         ? (flag_byte << nds::ovt_flag_shift) | (stored_size & nds::ovt_stored_size_mask)
                         : 0);
        }
    }

    unsigned exponent = 0;
    while ((std::uint64_t{1} << exponent) < used_end)
        ++exponent;
    const std::uint64_t image_size = layout.pad_to_power_of_two ? std::uint64_t{1} << exponent : used_end;
    if (image_size > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument("rom image: 4 GiB or more");

    bytes& image = result.image;
    image.assign(image_size, layout.fill);
    std::fill(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(header_section), 0);
    std::copy_n(d.header_extra.begin(),
                std::min<std::size_t>(d.header_extra.size(), header_section - rom_header_length),
                image.begin() + rom_header_length);
    for (const block& b : blocks)
        std::copy(b.data->begin(), b.data->end(), image.begin() + b.offset);

    bytes header(rom_header_length, 0);
    put_text(header, nds::hdr_title, d.title, nds::hdr_title_length, "title");
    if (d.game_code.size() != 4)
        throw std::invalid_argument("rom image: the game code has 4 characters");
    put_text(header, nds::hdr_game_code, d.game_code, 4, "game code");
    put_text(header, nds::hdr_maker_code, d.maker_code, 2, "maker code");
    put_u8(header, nds::hdr_capacity,
           static_cast<std::uint8_t>(
               exponent >= nds::capacity_base_exponent ? exponent - nds::capacity_base_exponent : 0));
    const auto place = [&](std::size_t offset_field, std::size_t size_field, std::size_t index,
                           std::uint64_t size) {
        if (index == SIZE_MAX)
            return;
        put_le32(header, offset_field, blocks[index].offset);
        if (size_field != 0)
            put_le32(header, size_field, static_cast<std::uint32_t>(size));
    };
    place(nds::hdr_arm9_offset, nds::hdr_arm9_size, arm9_block, d.arm9.size());
    put_le32(header, nds::hdr_arm9_entry, d.arm9_entry_address);
    put_le32(header, nds::hdr_arm9_ram_address, d.arm9_ram_address);
    place(nds::hdr_arm7_offset, nds::hdr_arm7_size, arm7_block, d.arm7.size());
    put_le32(header, nds::hdr_arm7_entry, d.arm7_entry_address);
    put_le32(header, nds::hdr_arm7_ram_address, d.arm7_ram_address);
    place(nds::hdr_fnt_offset, nds::hdr_fnt_size, fnt_block, fs.fnt.size());
    place(nds::hdr_fat_offset, nds::hdr_fat_size, fat_block, fat.size());
    place(nds::hdr_arm9_ovt_offset, nds::hdr_arm9_ovt_size, arm9_ovt_block, arm9_ovt.size());
    place(nds::hdr_arm7_ovt_offset, nds::hdr_arm7_ovt_size, arm7_ovt_block, arm7_ovt.size());
    place(nds::hdr_banner_offset, 0, banner_block, 0);
    put_le32(header, nds::hdr_used_rom_size, static_cast<std::uint32_t>(used_end));
    put_le32(header, nds::hdr_header_size, d.header_size);
    put_le16(header, nds::hdr_crc16, crc16(byte_span(header).first(nds::hdr_crc16)));
    std::copy(header.begin(), header.end(), image.begin());
    return result;
}

void write_rom_image(const rom_description& description, const std::filesystem::path& path)
{
    write_whole_file(path, build_rom_image(description).image);
}

} // namespace qm
