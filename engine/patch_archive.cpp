#include "engine/patch_archive.h"

#include "lzma/lzma_codec.h"
#include "rom/rom_visitor.h"

#include <algorithm>
#include <stdexcept>

namespace qm {

namespace {

constexpr std::size_t packed_header_size = 4 + lzma_props_size;
// LZMA cannot expand data by much more than this ratio; an unpacked size above it (or above the
// hard cap) is a lie that must not make us allocate.
constexpr std::uint64_t max_lzma_ratio = 8192;
constexpr std::uint64_t max_unpacked_size = 1u << 30;

[[noreturn]] void malformed(const std::string& why)
{
    throw std::runtime_error("load_archive failed - " + why);
}

[[noreturn]] void decoding_failed()
{
    throw std::runtime_error("Decompression of main archive failed");
}

} // namespace

bytes unpack_archive(byte_span packed)
{
    // A form too short for its header, or whose stream cannot yield the size it claims, is a
    // stream that ends early: the decoder's own failure, refused here before allocating.
    if (packed.size() < packed_header_size)
        decoding_failed();
    std::uint32_t unpacked_size = get_le32(packed, 0);
    std::uint64_t stream_size = packed.size() - packed_header_size;
    if (unpacked_size > max_unpacked_size || unpacked_size > (stream_size + 64) * max_lzma_ratio)
        decoding_failed();
    bytes out(unpacked_size);
    if (!lzma_unpack(packed.subspan(4, lzma_props_size), packed.subspan(packed_header_size), out))
        decoding_failed();
    return out;
}

bytes pack_archive(byte_span unpacked)
{
    lzma_packed p = lzma_pack(unpacked);
    bytes out;
    out.reserve(packed_header_size + p.stream.size());
    append_le32(out, static_cast<std::uint32_t>(unpacked.size()));
    append_bytes(out, p.props);
    append_bytes(out, p.stream);
    return out;
}

std::vector<bytes> split_archive(byte_span unpacked)
{
    if (unpacked.size() < 4)
        malformed("archive shorter than its blob count");
    std::uint32_t count = get_le32(unpacked, 0);
    if (count == 0)
        malformed("archive without an index blob");
    if (count > (unpacked.size() - 4) / 4)
        malformed("blob count " + std::to_string(count) + " does not fit the archive");
    std::size_t pos = 4 + std::size_t{4} * count;
    std::vector<bytes> blobs;
    blobs.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t size = get_le32(unpacked, 4 + std::size_t{4} * i);
        if (!in_bounds(unpacked.size(), pos, size))
            malformed("blob " + std::to_string(i) + " runs past the end of the archive");
        blobs.emplace_back(unpacked.begin() + pos, unpacked.begin() + pos + size);
        pos += size;
    }
    return blobs;
}

bytes join_archive(const std::vector<bytes>& blobs)
{
    bytes out;
    append_le32(out, static_cast<std::uint32_t>(blobs.size()));
    for (const bytes& b : blobs)
        append_le32(out, static_cast<std::uint32_t>(b.size()));
    for (const bytes& b : blobs)
        append_bytes(out, b);
    return out;
}

archive_index parse_archive_index(byte_span blob)
{
    if (blob.size() < 12)
        malformed("index shorter than its header");
    std::uint32_t count = get_le32(blob, 0);
    std::uint32_t pool_offset = get_le32(blob, 4);
    archive_index index;
    index.total_steps = get_le32(blob, 8);
    if (count > (blob.size() - 12) / 4)
        malformed("record count " + std::to_string(count) + " does not fit the index");
    std::size_t area = 12 + std::size_t{4} * count;
    if (!in_bounds(blob.size(), area, pool_offset))
        malformed("string pool offset lies outside the index");
    std::size_t pool = area + pool_offset;

    std::vector<std::uint64_t> offsets(count); // in bytes from the record area
    for (std::uint32_t i = 0; i < count; ++i) {
        offsets[i] = std::uint64_t{4} * get_le32(blob, 12 + std::size_t{4} * i);
        if (offsets[i] > pool_offset || pool_offset - offsets[i] < 8)
            malformed("record " + std::to_string(i) + " lies outside the record area");
    }
    // A record ends where the nearest record placed after it begins, or at the string pool.
    std::vector<std::uint64_t> starts(offsets);
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());

    std::size_t cursor = pool;
    index.records.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto next = std::upper_bound(starts.begin(), starts.end(), offsets[i]);
        std::uint64_t end = next == starts.end() ? pool_offset : *next;
        archive_record r;
        r.stored_key = get_le32(blob, area + offsets[i]);
        r.body = blob.subspan(area + offsets[i] + 4, end - offsets[i] - 4);
        if (section_kind_of(r.stored_key) == file) {
            auto first = blob.begin() + static_cast<std::ptrdiff_t>(cursor);
            auto nul = std::find(first, blob.end(), std::uint8_t{0});
            if (nul == blob.end())
                malformed("string pool ends inside a path");
            r.path.emplace(first, nul);
            cursor = static_cast<std::size_t>(nul - blob.begin()) + 1;
        }
        index.records.push_back(std::move(r));
    }
    return index;
}

std::uint32_t archive_builder::add_blob(bytes blob)
{
    blobs.push_back(std::move(blob));
    return static_cast<std::uint32_t>(blobs.size());
}

void archive_builder::add_record(std::uint32_t key, std::vector<std::uint32_t> body)
{
    records.push_back({key, std::nullopt, std::move(body)});
}

void archive_builder::add_file_record(std::string path, std::vector<std::uint32_t> body)
{
    records.push_back({file, std::move(path), std::move(body)});
}

bytes archive_builder::index() const
{
    bytes area;
    std::vector<std::uint32_t> offsets;
    std::string pool;
    for (const record& r : records) {
        offsets.push_back(static_cast<std::uint32_t>(area.size() / 4));
        append_le32(area, r.key);
        for (std::uint32_t w : r.body)
            append_le32(area, w);
        if (r.path) {
            pool += *r.path;
            pool.push_back('\0');
        }
    }
    bytes out;
    append_le32(out, static_cast<std::uint32_t>(records.size()));
    append_le32(out, static_cast<std::uint32_t>(area.size()));
    append_le32(out, total_steps);
    for (std::uint32_t o : offsets)
        append_le32(out, o);
    append_bytes(out, area);
    out.insert(out.end(), pool.begin(), pool.end());
    return out;
}

bytes archive_builder::build() const
{
    std::vector<bytes> all;
    all.reserve(blobs.size() + 1);
    all.push_back(index());
    all.insert(all.end(), blobs.begin(), blobs.end());
    return join_archive(all);
}

} // namespace qm
