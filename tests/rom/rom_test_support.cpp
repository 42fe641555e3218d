#include "rom_test_support.h"

#include "common/file_io.h"
#include "rom/file_sink.h"
#include "rom/nds_format.h"

#include <algorithm>
#include <random>

namespace qm::test {

scratch_dir::scratch_dir()
    : path(std::filesystem::temp_directory_path() / ("qm_rom_test_" + std::to_string(std::random_device{}()) +
                                                     "_" + std::to_string(std::random_device{}())))
{
    std::filesystem::create_directories(path);
}

std::filesystem::path scratch_dir::write(const std::string& name, byte_span data) const
{
    write_whole_file(path / name, data);
    return path / name;
}

std::vector<std::string> scratch_dir::names() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bytes recording_visitor::visit(const bytes& contents, std::uint32_t code)
{
    visited.push_back(code);
    return returned[code] = transform ? transform(contents, code) : contents;
}

recording_visitor changing(std::uint32_t code, std::function<bytes(const bytes&)> change)
{
    recording_visitor visitor;
    visitor.transform = [code, change](const bytes& contents, std::uint32_t c) {
        return c == code ? change(contents) : contents;
    };
    return visitor;
}

bytes rebuild(const std::filesystem::path& source, const std::filesystem::path& destination,
              rom_visitor& visitor)
{
    nds_rom rom(source);
    file_sink sink(destination);
    rom.copy_to(sink, visitor);
    sink.commit();
    return read_whole_file(destination);
}

rom_description sample_description()
{
    rom_description d;
    d.title = "SAMPLE";
    d.game_code = "QMSP";
    d.header_extra = bytes(0x40, 0x5A);
    for (int i = 0; i < 1000; ++i)
        d.arm9.push_back(static_cast<std::uint8_t>(i * 7));
    d.arm9_footer = std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8};
    d.arm7 = bytes(300, 0x77);
    d.root = {
        rom_fs_node::file("readme.txt", {'h', 'i'}),
        rom_fs_node::directory(
            "data", {rom_fs_node::file("empty.bin"),
                     rom_fs_node::directory("deep", {rom_fs_node::file("leaf.bin", bytes(1000, 0x11))}),
                     rom_fs_node::file("town.bin", bytes(513, 0x22))}),
        rom_fs_node::directory("empty_dir"),
        rom_fs_node::file("zero"),
    };
    bytes code;
    for (int i = 0; i < 1200; ++i)
        code.push_back(static_cast<std::uint8_t>((i % 16) * 3));
    d.arm9_overlays.push_back({.id = 0, .contents = code, .compressed = true});
    d.arm9_overlays.push_back({.id = 1, .contents = bytes(100, 0x91)});
    d.arm7_overlays.push_back({.id = 0, .contents = code, .compressed = true});
    d.banner = bytes(nds::banner_length, 0xB0);
    return d;
}

bytes hand_made_rom()
{
    bytes image(0x1000, 0xEE);
    std::fill_n(image.begin(), 0x180, 0);
    std::copy_n("HMAD", 4, image.begin() + 0x0C);
    const std::pair<std::size_t, std::uint32_t> fields[] = {
        {0x020, 0x200}, {0x02C, 0x10}, {0x030, 0x300}, {0x03C, 0x10},  {0x040, 0x400}, {0x044, 11},
        {0x048, 0x500}, {0x04C, 8},    {0x084, 0x200}, {0x500, 0x600}, {0x504, 0x604}};
    for (auto [offset, value] : fields)
        put_le32(image, offset, value);
    const bytes fnt = {8, 0, 0, 0, 0, 0, 1, 0, 0x01, 'a', 0x00};
    std::copy(fnt.begin(), fnt.end(), image.begin() + 0x400);
    std::copy_n("abcd", 4, image.begin() + 0x600);
    return image;
}

bytes write_fnt(const std::vector<fnt_dir>& dirs)
{
    bytes fnt(dirs.size() * nds::fnt_dir_entry_length, 0);
    std::vector<std::uint32_t> offsets(dirs.size());
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        offsets[i] = static_cast<std::uint32_t>(fnt.size());
        for (const auto& [name, target] : dirs[i].entries) {
            fnt.push_back(static_cast<std::uint8_t>(name.size() | (target >= 0 ? 0x80 : 0)));
            fnt.insert(fnt.end(), name.begin(), name.end());
            if (target >= 0)
                append_le16(fnt, static_cast<std::uint16_t>(nds::dir_id_base + target));
        }
        fnt.push_back(0);
    }
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        const std::size_t e = i * nds::fnt_dir_entry_length;
        put_le32(fnt, e, offsets[i]);
        put_le16(fnt, e + 4, dirs[i].first_file);
        put_le16(fnt, e + 6, i == 0 ? static_cast<std::uint16_t>(dirs.size()) : nds::dir_id_base);
    }
    return fnt;
}

bytes with_fnt(bytes image, byte_span fnt)
{
    image.resize(round_up(image.size(), 4), 0);
    put_le32(image, nds::hdr_fnt_offset, static_cast<std::uint32_t>(image.size()));
    put_le32(image, nds::hdr_fnt_size, static_cast<std::uint32_t>(fnt.size()));
    append_bytes(image, fnt);
    return image;
}

bytes file_bytes(byte_span image, std::uint32_t id)
{
    const std::uint32_t entry = get_le32(image, nds::hdr_fat_offset) + id * 8;
    return bytes(image.begin() + get_le32(image, entry), image.begin() + get_le32(image, entry + 4));
}

} // namespace qm::test
