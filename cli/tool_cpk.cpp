// quillmoor-tool commands for CPK archives: entry compression, listing, extracting, building, and
// a readable dump of @UTF tables.

#include "cli/tool_command.h"
#include "common/file_io.h"
#include "cpk/cpk_builder.h"
#include "cpk/cpk_compress.h"
#include "cpk/cpk_decompress.h"
#include "cpk/cpk_visit.h"
#include "cpk/utf_table.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

// Exit status of cpk-pack when the file is to be stored as it is.
constexpr int exit_stored_as_is = 3;

std::uint32_t size32(const bytes& b, const std::string& what)
{
    if (b.size() > 0xFFFFFFFFu)
        throw std::runtime_error(what + " is 4 GiB or more");
    return static_cast<std::uint32_t>(b.size());
}

int pack(const args& a)
{
    expect_args(a, 2, 2);
    const bytes in = read_whole_file(a[0]);
    const std::optional<bytes> form = cpk_compress(in);
    if (!form) {
        std::cerr << "quillmoor-tool cpk-pack: " << a[0]
                  << (in.size() < cpk_min_compress_size ? " is shorter than 384 bytes" : " does not shrink")
                  << ": an archive stores it as it is; nothing written\n";
        return exit_stored_as_is;
    }
    write_whole_file(a[1], *form);
    return 0;
}

int unpack(const args& a)
{
    expect_args(a, 3, 3);
    const std::uint64_t size = parse_number(a[1]);
    const bytes in = read_whole_file(a[0]);
    const std::uint32_t stored = size32(in, a[0]);
    if (size > cpk_max_extract_size(stored))
        throw std::runtime_error("a compressed form of " + std::to_string(stored) +
                                 " bytes cannot expand to " + std::to_string(size) + " bytes");
    bytes out(size);
    cpk_decompress(in, out);
    write_whole_file(a[2], out);
    return 0;
}

int list(const args& a)
{
    expect_args(a, 1, 1);
    const bytes archive = read_whole_file(a[0]);
    for (const cpk_entry& e : cpk_entries(archive))
        std::cout << e.id << ' ' << e.file_size << ' ' << e.extract_size << '\n';
    return 0;
}

int extract(const args& a)
{
    expect_args(a, 2, 2);
    const bytes archive = read_whole_file(a[0]);
    const fs::path dir = a[1];
    fs::create_directories(dir);
    cpk_visit(archive, [&](std::uint32_t id, byte_span data) {
        write_whole_file(dir / (std::to_string(id) + ".bin"), data);
    });
    return 0;
}

int build(const args& a)
{
    expect_args(a, 2, 2);
    // Files named <decimal id>.bin, taken in ascending id order; other names are left alone.
    std::map<std::uint64_t, fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(a[0])) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || name.size() <= 4 || name.size() > 24 || !name.ends_with(".bin"))
            continue;
        const std::string stem = name.substr(0, name.size() - 4);
        if (!std::all_of(stem.begin(), stem.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
            continue;
        const std::uint64_t id = std::stoull(stem);
        if (!files.emplace(id, entry.path()).second)
            throw std::runtime_error("two files for id " + std::to_string(id) + " in " + a[0]);
    }
    cpk_builder builder;
    std::uint64_t expected = 1;
    bool renumbered = false;
    for (const auto& [id, path] : files) {
        renumbered = renumbered || id != expected++;
        const bytes data = read_whole_file(path);
        builder.add_file(data);
    }
    if (renumbered)
        std::cerr
            << "quillmoor-tool cpk-build: note: the ids do not run 1, 2, 3, ...; the archive numbers its "
               "files 1 to "
            << files.size() << " in ascending id order\n";
    write_whole_file(a[1], builder.write());
    return 0;
}

// utf-dump: the table as indented text, nested tables under the cell that holds them.

const char* type_name(utf_type t)
{
    static const char* const names[] = {"u8",  "s8",  "u16",   "s16",   "u32",    "s32",
                                        "u64", "s64", "float", "raw64", "string", "data"};
    return t < utf_type_count ? names[t] : "?";
}

std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char ch : s) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20 || ch >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", ch);
            out += buf;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + "\"";
}

std::string number(std::uint64_t v)
{
    std::ostringstream os;
    os << v;
    if (v >= 10)
        os << " (0x" << std::hex << std::uppercase << v << ")";
    return os.str();
}

void dump_table(std::ostream& os, const utf_table& t, const std::string& indent)
{
    const auto& cols = t.columns();
    os << indent << "table " << quoted(t.name()) << ": " << cols.size() << " columns, " << t.row_count()
       << (t.row_count() == 1 ? " row" : " rows") << ", row width " << t.row_width() << "\n";
    for (std::size_t c = 0; c < cols.size(); ++c)
        os << indent << "  column " << c << ": " << quoted(cols[c].name) << " " << type_name(cols[c].type)
           << (cols[c].stored ? "" : ", not stored") << "\n";
    for (std::uint32_t r = 0; r < t.row_count(); ++r) {
        os << indent << "  row " << r << "\n";
        for (std::uint32_t c = 0; c < cols.size(); ++c) {
            os << indent << "    " << cols[c].name << " = ";
            if (!cols[c].stored) {
                os << "(not stored)\n";
                continue;
            }
            const std::uint64_t v = t.cell(r, c);
            switch (cols[c].type) {
            case utf_string:
                os << quoted(t.string_at(v)) << "\n";
                break;
            case utf_float:
                os << std::bit_cast<float>(static_cast<std::uint32_t>(v)) << "\n";
                break;
            case utf_raw64: {
                char buf[24];
                std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(v));
                os << buf << "\n";
                break;
            }
            case utf_data:
                os << "nested\n";
                dump_table(os, t.sub_table(v), indent + "      ");
                break;
            default:
                os << number(v) << "\n";
            }
        }
    }
}

int utf_dump(const args& a)
{
    expect_args(a, 1, 2);
    const bytes file = read_whole_file(a[0]);
    const std::uint64_t offset = a.size() > 1 ? parse_number(a[1]) : 0;
    if (offset > file.size())
        throw std::runtime_error("offset " + std::to_string(offset) + " lies beyond the end of " + a[0]);
    const byte_span at = byte_span(file).subspan(offset);
    auto starts_with_magic = [](byte_span b) {
        return b.size() >= 4 && std::memcmp(b.data(), "@UTF", 4) == 0;
    };
    if (starts_with_magic(at)) {
        dump_table(std::cout, utf_table::parse(at), "");
        return 0;
    }
    // A table chunk: a four-byte tag, a flag byte (0 = enciphered), the length, the table at +16.
    // An enciphered one is recognised by a printable tag, so that its refusal is reported.
    const bool printable_tag = at.size() >= 4 && std::all_of(at.begin(), at.begin() + 4, [](std::uint8_t ch) {
                                   return ch >= 0x20 && ch < 0x7F;
                               });
    if (at.size() >= 16 && (starts_with_magic(at.subspan(16)) || (at[4] == 0 && printable_tag))) {
        const utf_table t = utf_table::from_chunk(at);
        std::cout << "chunk " << quoted(std::string(at.begin(), at.begin() + 4)) << ", flag " << number(at[4])
                  << ", table length " << get_le64(at, 8) << "\n";
        dump_table(std::cout, t, "");
        return 0;
    }
    throw std::runtime_error("no @UTF table or table chunk at offset " + std::to_string(offset) + " of " +
                             a[0]);
}

const tool_command commands[] = {
    {"cpk-pack", "IN OUT", "compress a CPK entry (exit 3, nothing written, when it is stored as is)", pack,
     "IN   an entry's contents\nOUT  its compressed form to write",
     "OUT, unless the entry is stored as it is",
     "0 written, 1 error, 2 bad usage, 3 the entry is to be stored uncompressed (shorter than 384\n"
     "bytes, or it does not shrink): nothing written",
     "quillmoor-tool cpk-pack 12.bin 12.packed"},
    {"cpk-unpack", "IN SIZE OUT", "expand a compressed CPK entry to SIZE bytes", unpack,
     "IN    a compressed entry\nSIZE  its expanded size (the third column of cpk-list)\nOUT   the file to "
     "write",
     "OUT", nullptr, "quillmoor-tool cpk-unpack 12.packed 4096 12.bin"},
    {"cpk-list", "ARCHIVE", "one line per entry: id stored_size extract_size", list, "ARCHIVE  a CPK archive",
     "one line per entry on stdout: id, stored size, expanded size", nullptr,
     "quillmoor-tool cpk-list work/data/script/event.cpk"},
    {"cpk-extract", "ARCHIVE DIR", "write every entry, expanded, as DIR/<id>.bin", extract,
     "ARCHIVE  a CPK archive\nDIR      the folder to write into (created when missing)",
     "DIR/<id>.bin for every entry, expanded (ids in decimal)", nullptr,
     "quillmoor-tool cpk-extract work/data/script/event.cpk event"},
    {"cpk-build", "DIR OUT", "build an archive from DIR/<id>.bin in ascending id order", build,
     "DIR  a folder of <id>.bin files (other names are left alone)\nOUT  the archive to write",
     "OUT, the files numbered 1 to N in ascending id order, each compressed when that makes it smaller",
     nullptr, "quillmoor-tool cpk-build event event.cpk"},
    {"utf-dump", "FILE [OFFSET]", "show the @UTF table (or table chunk) at OFFSET", utf_dump,
     "FILE    a file holding an @UTF table, bare or in its chunk (a CPK archive)\nOFFSET  where the table "
     "or its chunk starts (0 when not given)",
     "the table as indented text on stdout, nested tables under their cells", nullptr,
     "quillmoor-tool utf-dump event.cpk"},
};

} // namespace

std::span<const tool_command> cpk_tool_commands()
{
    return commands;
}

} // namespace qm::cli
