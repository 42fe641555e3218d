#include "tools/rom_description_generator.h"

#include "lz/nds_lz.h"

#include <set>
#include <stdexcept>

namespace qm {

bytes code_like_bytes(seeded_random& random, std::size_t length)
{
    std::uint32_t words[8];
    for (auto& w : words)
        w = 0xE0000000u | static_cast<std::uint32_t>(random.below(0x10000000)); // "always" condition
    bytes out;
    out.reserve(length + 3);
    while (out.size() < length)
        append_le32(out,
                    random.chance(90) ? words[random.below(8)] : static_cast<std::uint32_t>(random.next()));
    out.resize(length);
    return out;
}

namespace {

std::string random_name(seeded_random& random, std::set<std::string>& taken)
{
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789_.-";
    for (;;) {
        std::string name(random.between(1, 12), ' ');
        for (char& c : name)
            c = alphabet[random.below(sizeof alphabet - 1)];
        if (taken.insert(name).second)
            return name;
    }
}

bytes file_contents(seeded_random& random, std::uint32_t max_size)
{
    if (random.chance(20))
        return {}; // empty files are common in real file systems
    const std::size_t size = random.between(1, max_size);
    return random.chance(50) ? code_like_bytes(random, size) : random.fill(size);
}

void fill_directory(seeded_random& random, const rom_generator_options& options,
                    std::vector<rom_fs_node>& entries, std::uint32_t depth, std::uint32_t& files_left)
{
    std::set<std::string> taken;
    const std::uint64_t count = random.between(depth == 0 ? 2 : 0, 6);
    for (std::uint64_t i = 0; i < count && files_left > 0; ++i) {
        if (depth < options.max_depth && random.chance(30)) {
            rom_fs_node dir = rom_fs_node::directory(random_name(random, taken));
            fill_directory(random, options, dir.children, depth + 1, files_left);
            entries.push_back(std::move(dir));
        } else {
            --files_left;
            entries.push_back(
                rom_fs_node::file(random_name(random, taken), file_contents(random, options.max_file_size)));
        }
    }
}

std::vector<rom_overlay> random_overlays(seeded_random& random, const rom_generator_options& options)
{
    std::vector<rom_overlay> overlays(random.between(0, options.max_overlays));
    // Ids are usually the entry indexes, as in real games, but not always.
    const bool index_ids = random.chance(60);
    std::set<std::uint32_t> ids;
    for (std::size_t i = 0; i < overlays.size(); ++i) {
        rom_overlay& o = overlays[i];
        std::uint32_t id = static_cast<std::uint32_t>(i);
        if (!index_ids)
            while (!ids.insert(id = static_cast<std::uint32_t>(random.below(0x10000))).second) {
            }
        o.id = id;
        o.ram_address = 0x02100000 + static_cast<std::uint32_t>(random.below(0x1000)) * 0x100;
        o.bss_size = static_cast<std::uint32_t>(random.below(0x1000));
        o.contents = code_like_bytes(random, random.between(1, options.max_file_size));
        o.compressed = random.chance(50);
        if (o.compressed) {
            try {
                nds_lz_comp(o.contents);
            } catch (const std::runtime_error&) {
                o.compressed = false; // too little to gain: stored plain, as a packer would
            }
        }
    }
    return overlays;
}

} // namespace

rom_description random_rom_description(std::uint64_t seed, const rom_generator_options& options)
{
    seeded_random random(seed);
    rom_description d;
    d.title = "RANDOM" + std::to_string(seed % 1000000);
    d.game_code = "QMR" + std::string(1, static_cast<char>('A' + seed % 26));

    static constexpr std::uint32_t header_sizes[] = {0x4000, 0x4000, 0x200, 0x180, 0};
    d.header_size = header_sizes[random.below(std::size(header_sizes))];
    if (d.header_size > 0x180)
        d.header_extra = random.fill(d.header_size - 0x180);

    d.arm9 = code_like_bytes(random, random.between(0, 4000));
    if (random.chance(50)) {
        std::array<std::uint8_t, 8> tail{};
        for (auto& b : tail)
            b = static_cast<std::uint8_t>(random.next());
        d.arm9_footer = tail;
    }
    d.arm7 = code_like_bytes(random, random.between(0, 3000));

    std::uint32_t files_left = options.max_files;
    fill_directory(random, options, d.root, 0, files_left);

    d.arm9_overlays = random_overlays(random, options);
    d.arm7_overlays = random_overlays(random, options);
    if (random.chance(70))
        d.banner = random.fill(0x840);

    static constexpr std::uint32_t alignments[] = {0x200, 0x200, 0x10, 4};
    d.layout.alignment = alignments[random.below(std::size(alignments))];
    d.layout.gap = random.chance(50) ? static_cast<std::uint32_t>(random.between(1, 700)) : 0;
    d.layout.fill = random.chance(50) ? 0xFF : static_cast<std::uint8_t>(random.next());
    d.layout.shuffle_seed = random.chance(50) ? random.next() | 1 : 0;
    return d;
}

} // namespace qm
