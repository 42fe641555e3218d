#include "engine/patcher.h"

#include "common/phase_timer.h"
#include "engine/apply_patch.h"
#include "engine/char_table.h"
#include "engine/cpk_patcher.h"
#include "engine/crc32.h"
#include "engine/patch_archive.h"
#include "engine/patch_format.h"
#include "rom/nds_rom.h"

#include <stdexcept>

namespace qm {

namespace {

// Source bytes of the CPK archives begun ahead. Each one begun holds its source and, as its
// entries are done, about as much again, until its turn; this bounds the memory that running
// ahead takes (the archive at its turn is always begun, whatever its size).
constexpr std::uint64_t max_bytes_ahead = 16u << 20;

} // namespace

patcher::patcher() : char_index(make_char_index()) {}

const bytes& patcher::blob(std::uint32_t n) const
{
    if (n >= blobs.size())
        throw std::runtime_error("patcher - blob " + std::to_string(n) + " is not in the archive");
    return blobs[n];
}

void patcher::advance_progress()
{
    std::uint32_t done = step_counter++;
    if (listener)
        listener->set_position(done);
}

void patcher::load_archive(byte_span packed)
{
    archive_index index;
    {
        const timed_phase timing(job_phase::archive_unpacking);
        bytes unpacked = unpack_archive(packed);
        blobs = split_archive(unpacked); // the archive loaded last is the one in force
        unpacked = bytes();
        index = parse_archive_index(blobs[0]);
    }
    records.clear();
    if (listener)
        listener->set_total(index.total_steps);
    for (const archive_record& r : index.records) {
        std::uint32_t key = r.stored_key;
        if (r.path) {
            if (!rom)
                throw std::runtime_error("load_archive failed - no ROM to resolve file paths");
            key = make_section_code(file, rom->get_file_id(*r.path));
        }
        records[key] = r.body; // a later record with the same key replaces the earlier one
    }
    step_counter = 0;
    cancel_flag.store(0, std::memory_order_relaxed);
}

void patcher::enter_section(std::uint32_t code)
{
    advance_progress();
    if (!listener)
        return;
    if (section_kind_of(code) == file) {
        std::string path = rom->fid_to_string(section_id_of(code));
        listener->section_started(code, path.c_str());
    } else {
        listener->section_started(code, nullptr);
    }
}

bool patcher::passes_through(std::uint32_t code)
{
    return !cancel_requested() && records.find(code) == records.end();
}

void patcher::use_workers(unsigned workers)
{
    worker_count = workers;
    if (archives_ahead.empty())
        pool.reset();
}

work_pool& patcher::workers()
{
    if (!pool)
        pool = std::make_unique<work_pool>(worker_count);
    return *pool;
}

rom_visitor::ahead patcher::wants_ahead(std::uint32_t code, std::uint64_t size)
{
    if (cancel_requested())
        return ahead::never;
    const auto it = records.find(code);
    if (it == records.end() || get_le32(it->second, 0) != patch_format::entry_list_record)
        return ahead::never;
    // Without workers nothing is gained by starting early: the archive is rebuilt at its turn.
    if (workers().workers() == 0)
        return ahead::never;
    if (!archives_ahead.empty() && bytes_ahead + size > max_bytes_ahead)
        return ahead::later;
    return ahead::now;
}

void patcher::begin_ahead(bytes contents, std::uint32_t code)
{
    const std::uint64_t size = contents.size();
    byte_span record = records.at(code);
    archives_ahead.push_back(
        {code, size,
         std::make_unique<cpk_patcher>(*this, record.subspan(4), std::move(contents), workers())});
    bytes_ahead += size;
}

bytes patcher::end_ahead(std::uint32_t code)
{
    if (cancel_requested()) {
        drop_ahead(); // nothing more is written: the work on later archives is dropped too
        return {};
    }
    if (archives_ahead.empty() || archives_ahead.front().code != code)
        throw std::logic_error("patcher::end_ahead - section not begun");
    archive_ahead current = std::move(archives_ahead.front());
    archives_ahead.pop_front();
    bytes_ahead -= current.size;
    return current.rebuild->finish();
}

void patcher::drop_ahead() noexcept
{
    archives_ahead.clear();
    bytes_ahead = 0;
}

bytes patcher::visit(const bytes& contents, std::uint32_t code)
{
    if (cancel_requested())
        return {};
    auto it = records.find(code);
    if (it == records.end())
        return contents;
    byte_span record = it->second;
    std::uint32_t type = get_le32(record, 0);
    switch (type) {
    case patch_format::delta_record: {
        if (record.size() < 12)
            throw std::runtime_error("patcher::visit - truncated record");
        std::uint32_t checksum = get_le32(record, 4);
        // The checksum comes first: contents that are not the expected ones say so, whatever
        // the record names as its delta.
        if (crc32(contents) != checksum)
            throw std::runtime_error("patcher::visit - bad checksum");
        return apply_patch(contents, blob(get_le32(record, 8)));
    }
    case patch_format::entry_list_record: {
        cpk_patcher p(*this, record.subspan(4), contents, workers());
        return p.finish();
    }
    default:
        throw std::runtime_error("patcher::visit - unexpected patch type");
    }
}

} // namespace qm
