#pragma once
// Rewrites one CPK archive of the ROM entry by entry, as a type 1 patch record's entry list says.
//
// Entry list (u32 words): per patched entry, in ascending id order: id, crc32 of the unpatched
// entry, entry patch type, blob number (no blob for type 4); then append items: 0xFFFFFFFF and a
// blob number each. The list has no count: it ends where its record's room in the index ends.
//
// The work is split in two. Construction reads the archive's table and the list, and queues one
// task per entry on the pool: expand the entry, check and patch it, compress it for the new
// archive. finish, at the archive's turn on the job's thread, then goes through the entries in
// order as a serial walk would: it advances the progress for each, raises the first error that
// walk would have met (and only when it reaches it), follows the cancel flag, and lays out the
// new archive from the tasks' results. So the tasks may run long before the archive's turn, on
// any thread, without anything that the listener or the caller sees changing.

#include "common/bytes.h"
#include "common/work_pool.h"
#include "cpk/cpk_builder.h"
#include "cpk/cpk_visit.h"
#include "engine/char_table.h"

#include <exception>
#include <optional>
#include <vector>

namespace qm {

// What an entry patcher uses of the job it is part of: the archive's blobs and the character map,
// read from any thread, and the progress and the cancel flag, used on the job's thread alone.
class cpk_patch_job {
public:
    // Blob n of the patch archive; throws when the archive has no such blob.
    virtual const bytes& blob(std::uint32_t n) const = 0;
    virtual const char_index_map& character_index() const noexcept = 0;
    virtual bool cancel_requested() const noexcept = 0;
    // Remembers the step counter, advances it and reports the remembered value.
    virtual void advance_progress() = 0;

protected:
    ~cpk_patch_job() = default;
};

class cpk_patcher {
public:
    // `archive` must stay valid as long as the cpk_patcher lives (see the other constructor).
    cpk_patcher(cpk_patch_job& owner, byte_span entry_list, byte_span archive, work_pool& pool);
    // The same for an archive that the cpk_patcher keeps, for as long as its tasks need it.
    cpk_patcher(cpk_patch_job& owner, byte_span entry_list, bytes&& archive, work_pool& pool);
    // Drops the tasks not started yet and waits for those running.
    ~cpk_patcher() = default;
    cpk_patcher(const cpk_patcher&) = delete;
    cpk_patcher& operator=(const cpk_patcher&) = delete;

    // The new archive's bytes, or empty contents when the job is cancelled meanwhile. Called
    // once, on the job's thread.
    bytes finish();

private:
    // An entry of the source archive and what the list says about it. The list's words are read
    // in advance, as far as they go; a word missing is an error when (and if) the entry is
    // reached.
    struct entry_plan {
        cpk_entry entry;
        bool reached = true; // false after an entry whose list words end the job anyway
        bool listed = false; // the list names this entry
        std::optional<std::uint32_t> checksum, type, blob;
    };
    // An append item: the blob after a marker (missing when the list ends after the marker).
    struct append_plan {
        std::optional<std::uint32_t> blob;
    };
    // What a task leaves for finish.
    struct result {
        std::exception_ptr walk_error;  // the archive walk itself failed at this entry
        std::exception_ptr entry_error; // checking or patching the entry failed
        cpk_stored_file stored;
    };

    void plan(byte_span entry_list);
    void queue_tasks();
    void run_entry(std::size_t i);
    void run_append(std::size_t j);
    // Checks and patches an entry as its plan says; its new contents, or nullopt when unchanged.
    std::optional<bytes> patch(const entry_plan& p, byte_span old) const;
    bytes patch_entry(std::uint32_t type, std::optional<std::uint32_t> blob, byte_span old) const;

    cpk_patch_job& owner;
    bytes kept_archive;
    byte_span archive;
    std::exception_ptr table_error; // the archive's tables could not be read: nothing is walked
    std::vector<entry_plan> plans;
    std::vector<append_plan> appends;
    std::vector<result> results; // the entries' results, then the append items'
    cpk_builder builder;
    work_batch tasks; // last: its end waits for the tasks that use the members above
};

} // namespace qm
