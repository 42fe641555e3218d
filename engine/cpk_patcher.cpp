#include "engine/cpk_patcher.h"

#include "common/phase_timer.h"
#include "engine/apply_patch.h"
#include "engine/crc32.h"
#include "engine/font_depth.h"
#include "engine/patch_format.h"
#include "engine/script_font.h"

#include <stdexcept>

namespace qm {

using namespace patch_format;

namespace {

// When the job's thread has caught up with the workers, it does entries of the next stretch that
// no worker has started, rather than wait.
constexpr std::size_t wait_stretch = 16;

[[noreturn]] void list_ends()
{
    throw std::runtime_error("patcher::cpk_patcher - entry list ends inside an entry");
}

// Reads the list's words one after the other; it ends at its record's end.
class list_reader {
public:
    explicit list_reader(byte_span list) noexcept : list(list) {}
    bool at_end() const noexcept { return cursor + 4 > list.size(); }
    std::uint32_t peek() const { return get_le32(list, cursor); }
    std::optional<std::uint32_t> take()
    {
        if (at_end())
            return std::nullopt;
        cursor += 4;
        return get_le32(list, cursor - 4);
    }

private:
    byte_span list;
    std::size_t cursor = 0;
};

} // namespace

cpk_patcher::cpk_patcher(cpk_patch_job& owner, byte_span entry_list, byte_span archive, work_pool& pool)
    : owner(owner), archive(archive), tasks(pool)
{
    plan(entry_list);
    queue_tasks();
}

cpk_patcher::cpk_patcher(cpk_patch_job& owner, byte_span entry_list, bytes&& archive, work_pool& pool)
    : owner(owner), kept_archive(std::move(archive)), archive(kept_archive), tasks(pool)
{
    plan(entry_list);
    queue_tasks();
}

// Reads the list as the walk would consume it. Which words an entry takes depends only on the
// entries' ids and on the list, never on the entries' bytes, so the whole walk through the list
// is known before any entry is expanded.
void cpk_patcher::plan(byte_span entry_list)
{
    std::vector<cpk_entry> entries;
    try {
        entries = cpk_entries(archive);
    } catch (...) {
        table_error = std::current_exception();
        return;
    }
    list_reader list(entry_list);
    bool reached = true;
    plans.reserve(entries.size());
    for (const cpk_entry& e : entries) {
        entry_plan& p = plans.emplace_back();
        p.entry = e;
        p.reached = reached;
        if (!reached || list.at_end() || list.peek() != e.id)
            continue;
        p.listed = true;
        list.take();
        p.checksum = list.take();
        if (p.checksum)
            p.type = list.take();
        const bool takes_blob = p.type && *p.type <= last_entry_type && entry_type_takes_blob(*p.type);
        if (takes_blob)
            p.blob = list.take();
        // A word missing or an unknown type ends the job at this entry, whatever its bytes.
        reached = p.type && *p.type <= last_entry_type && (!takes_blob || p.blob);
    }
    while (reached && !list.at_end() && list.take() == append_marker) {
        const std::optional<std::uint32_t> blob = list.take();
        appends.push_back({blob});
        reached = blob.has_value();
    }
}

void cpk_patcher::queue_tasks()
{
    if (table_error)
        return;
    // The new archive takes about as much room as the old one; it is laid out in one buffer.
    builder.reserve(archive.size() + archive.size() / 8 + 4096);
    results.resize(plans.size() + appends.size());
    for (std::size_t i = 0; i < plans.size(); ++i)
        tasks.add([this, i] { run_entry(i); });
    for (std::size_t j = 0; j < appends.size(); ++j)
        tasks.add([this, j] { run_append(j); });
}

void cpk_patcher::run_entry(std::size_t i)
{
    const entry_plan& p = plans[i];
    result& r = results[i];
    const auto take_entry = [&](std::uint32_t, byte_span data) {
        // An entry after one that ends the job is only expanded, for the walk's own errors.
        if (!p.reached)
            return;
        try {
            std::optional<bytes> patched = patch(p, data);
            // Nothing of a cancelled job is written: the compression is spared.
            if (owner.cancel_requested())
                return;
            r.stored = patched ? cpk_store(std::move(*patched)) : cpk_store(data);
        } catch (...) {
            r.entry_error = std::current_exception();
        }
    };
    try {
        cpk_visit_entry(archive, p.entry, take_entry);
    } catch (...) {
        r.walk_error = std::current_exception();
    }
}

void cpk_patcher::run_append(std::size_t j)
{
    result& r = results[plans.size() + j];
    try {
        if (!appends[j].blob)
            list_ends();
        const bytes& b = owner.blob(*appends[j].blob);
        if (owner.cancel_requested())
            return;
        r.stored = cpk_store(b);
    } catch (...) {
        r.entry_error = std::current_exception();
    }
}

std::optional<bytes> cpk_patcher::patch(const entry_plan& p, byte_span old) const
{
    if (!p.listed)
        return std::nullopt;
    const timed_phase timing(job_phase::cpk_patching);
    // The checksum comes first: an entry that is not the expected one says so, whatever the list
    // says after it.
    if (!p.checksum)
        list_ends();
    if (crc32(old) != *p.checksum)
        throw std::runtime_error("patcher::cpk_patcher::operator() - bad checksum");
    if (!p.type)
        list_ends();
    return patch_entry(*p.type, p.blob, old);
}

bytes cpk_patcher::patch_entry(std::uint32_t type, std::optional<std::uint32_t> blob, byte_span old) const
{
    const auto named_blob = [&]() -> const bytes& {
        if (!blob)
            list_ends();
        return owner.blob(*blob);
    };
    switch (type) {
    case script_with_prefix:
    case script_without_prefix: {
        const bytes& container = named_blob();
        std::uint32_t prefix = 0;
        if (type == script_with_prefix) {
            if (old.size() < script_prefix_length_field + 4)
                throw std::runtime_error("patcher::cpk_patcher::operator() - script entry too short");
            prefix = get_le32(old, script_prefix_length_field);
            if (prefix > old.size())
                throw std::runtime_error(
                    "patcher::cpk_patcher::operator() - script prefix longer than its entry");
        }
        bytes font = build_font(used_chars(owner.character_index(), container));
        return assemble_script_entry(old.first(prefix), prefix, container, font);
    }
    case whole:
    case filled:
        return named_blob();
    case delta:
        return apply_patch(old, named_blob());
    case font_1bpp:
        return convert_font_to_1bpp(old);
    default:
        throw std::runtime_error("patcher::cpk_patcher::operator() - unexpected patch type");
    }
}

bytes cpk_patcher::finish()
{
    if (table_error)
        std::rethrow_exception(table_error);
    // The walk: once the job is cancelled, entries are no longer counted or added, but the
    // archive is still walked to its end, and a file that cannot be read there still fails.
    for (std::size_t i = 0; i < plans.size(); ++i) {
        tasks.wait(i, std::min(i + wait_stretch, plans.size()) - 1);
        result& r = results[i];
        if (r.walk_error)
            std::rethrow_exception(r.walk_error);
        if (owner.cancel_requested())
            continue;
        owner.advance_progress();
        if (r.entry_error)
            std::rethrow_exception(r.entry_error);
        builder.check_room();
        if (!owner.cancel_requested()) // a cancel during this entry's progress report drops it
            builder.add_stored(std::move(r.stored));
        r = result();
    }
    kept_archive = bytes(); // every entry is expanded by now
    for (std::size_t j = 0; j < appends.size() && !owner.cancel_requested(); ++j) {
        owner.advance_progress();
        tasks.wait(plans.size() + j);
        result& r = results[plans.size() + j];
        if (r.entry_error)
            std::rethrow_exception(r.entry_error);
        builder.check_room();
        if (!owner.cancel_requested())
            builder.add_stored(std::move(r.stored));
        r = result();
    }
    if (owner.cancel_requested())
        return {};
    return builder.take_archive();
}

} // namespace qm
