// archive-list, archive-pack, archive-unpack: the packed patch archive taken apart and put together.

#include "cli/tool_command.h"
#include "common/file_io.h"
#include "engine/patch_archive.h"
#include "engine/patch_format.h"
#include "rom/rom_visitor.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

namespace qm::cli {

namespace {

namespace fs = std::filesystem;

const char* kind_name(std::uint16_t kind)
{
    static const char* const names[] = {"padding",  "header", "arm9",         "arm7",
                                        "fnt",      "fat",    "file",         "arm9_ovt",
                                        "arm7_ovt", "banner", "arm9_overlay", "arm7_overlay"};
    return kind < std::size(names) ? names[kind] : "unknown";
}

// Prints a type 1 record's entry list as far as its room in the index goes.
void list_cpk_entries(byte_span list, std::ostream& os)
{
    std::size_t pos = 0;
    auto word = [&](std::uint32_t& w) {
        if (pos + 4 > list.size())
            return false;
        w = get_le32(list, pos);
        pos += 4;
        return true;
    };
    std::uint32_t id = 0, crc = 0, type = 0, blob = 0;
    std::size_t counts[patch_format::last_entry_type + 1] = {};
    while (word(id)) {
        if (id == patch_format::append_marker) {
            if (!word(blob))
                break;
            os << "    append blob " << blob << "\n";
            continue;
        }
        if (!word(crc) || !word(type))
            break;
        char line[96];
        if (!patch_format::entry_type_takes_blob(type)) {
            std::snprintf(line, sizeof line, "    entry %u crc %08x type %u\n", id, crc, type);
        } else {
            if (!word(blob))
                break;
            std::snprintf(line, sizeof line, "    entry %u crc %08x type %u blob %u\n", id, crc, type, blob);
        }
        if (type <= patch_format::last_entry_type)
            ++counts[type];
        os << line;
    }
    os << "    types 0-5:";
    for (std::size_t c : counts)
        os << " " << c;
    os << "\n";
}

int archive_list(const args& a)
{
    expect_args(a, 1, 1);
    bytes unpacked = unpack_archive(read_whole_file(a[0]));
    std::vector<bytes> blobs = split_archive(unpacked);
    archive_index index = parse_archive_index(blobs[0]);
    std::cout << "unpacked size " << unpacked.size() << ", blobs " << blobs.size() << ", records "
              << index.records.size() << ", total steps " << index.total_steps << "\n";
    for (std::size_t i = 0; i < index.records.size(); ++i) {
        const archive_record& r = index.records[i];
        std::uint32_t type = r.body.size() >= 4 ? get_le32(r.body, 0) : 0xFFFFFFFFu;
        char line[160];
        std::snprintf(line, sizeof line, "record %zu: key %08x (%s %u)%s%s type %u", i, r.stored_key,
                      kind_name(section_kind_of(r.stored_key)), section_id_of(r.stored_key),
                      r.path ? " " : "", r.path ? r.path->c_str() : "", type);
        std::cout << line;
        if (type == patch_format::delta_record && r.body.size() >= 12) {
            std::snprintf(line, sizeof line, " crc %08x blob %u", get_le32(r.body, 4), get_le32(r.body, 8));
            std::cout << line << "\n";
        } else {
            std::cout << "\n";
            if (type == patch_format::entry_list_record)
                list_cpk_entries(r.body.subspan(4), std::cout);
        }
    }
    for (std::size_t i = 0; i < blobs.size(); ++i)
        std::cout << "blob " << i << ": " << blobs[i].size() << " bytes\n";
    return 0;
}

int archive_pack(const args& a)
{
    expect_args(a, 2, 2);
    std::vector<bytes> blobs;
    for (std::size_t n = 0;; ++n) {
        fs::path p = fs::path(a[0]) / (std::to_string(n) + ".bin");
        if (!fs::exists(p))
            break;
        blobs.push_back(read_whole_file(p));
    }
    if (blobs.empty())
        throw std::runtime_error("no blob 0.bin (the index) in " + a[0]);
    bytes packed = pack_archive(join_archive(blobs));
    write_whole_file(a[1], packed);
    return 0;
}

int archive_unpack(const args& a)
{
    expect_args(a, 2, 2);
    std::vector<bytes> blobs = split_archive(unpack_archive(read_whole_file(a[0])));
    fs::create_directories(a[1]);
    for (std::size_t n = 0; n < blobs.size(); ++n)
        write_whole_file(fs::path(a[1]) / (std::to_string(n) + ".bin"), blobs[n]);
    return 0;
}

const tool_command commands[] = {
    {"archive-list", "PACKED", "records, entry lists, blob sizes and total steps of a packed archive",
     archive_list, "PACKED  a packed patch archive (what make-patch writes)",
     "on stdout: the archive's sizes and total steps, then each record with its key and, for a CPK\n"
     "entry list, its entries",
     nullptr, "quillmoor-tool archive-list my.patch"},
    {"archive-pack", "INDEX_DIR OUT", "packs DIR/0.bin (the index), DIR/1.bin, ... into a packed archive",
     archive_pack,
     "INDEX_DIR  a folder holding 0.bin (the index), 1.bin, 2.bin, ...\nOUT        the packed archive to "
     "write",
     "OUT, the blobs from 0.bin up to the first missing number, joined and packed", nullptr,
     "quillmoor-tool archive-pack blobs my.patch"},
    {"archive-unpack", "PACKED DIR", "writes the blobs of a packed archive as DIR/<n>.bin", archive_unpack,
     "PACKED  a packed patch archive\nDIR     the folder to write into (created when missing)",
     "DIR/0.bin (the index), DIR/1.bin, ...", nullptr, "quillmoor-tool archive-unpack my.patch blobs"},
};

} // namespace

std::span<const tool_command> archive_tool_commands()
{
    return commands;
}

} // namespace qm::cli
