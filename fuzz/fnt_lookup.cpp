// Path and file-id lookups over a file name table from anywhere.
// Input: u16 FAT entry count, u16 file id to look up, then the FNT.
//
// On a table that passes the validity test, the walks must complete without any error, a path
// that the lookup resolves must name an id that the reverse lookup knows, and the one-walk path
// index must agree with a walk per id. On a table that
// fails it, the lookups may only refuse.

#include "fuzz_support.h"
#include "rom/fnt.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::input_reader in(data, size);
    const std::uint16_t fat_entries = in.u16();
    const std::uint16_t probe = in.u16();
    const byte_span fnt = in.rest();

    if (!fnt_is_valid(fnt, fat_entries)) {
        // The cursor's own bounds checks are what keeps an unchecked table from being read
        // outside its bytes; any error is fine here, a crash is not.
        try {
            (void)fnt_list_files(fnt);
            (void)fnt_path_of(fnt, probe);
            (void)fnt_find_file(fnt, "/a/b");
        } catch (const std::runtime_error&) {
        }
        return 0;
    }

    // Each lookup walks the table afresh, so only the first files are looked up both ways.
    const auto files = fnt_list_files(fnt);
    for (std::size_t i = 0; i < files.size() && i < fuzz::max_lookups; ++i) {
        const auto& [id, path] = files[i];
        fuzz::expect(id < fat_entries, "listed file id beyond the FAT");
        fuzz::expect(fnt_path_of(fnt, id).has_value(), "listed file has no path");
        if (const auto found = fnt_find_file(fnt, "/" + path))
            fuzz::expect(fnt_path_of(fnt, *found).has_value(), "resolved id unknown to the reverse lookup");
    }
    const std::optional<std::string> path = fnt_path_of(fnt, probe);
    if (path)
        (void)fnt_find_file(fnt, "/" + *path);

    // The one-walk index must answer as a walk of its own does.
    const fnt_path_index index(fnt);
    fuzz::expect(index.path_of(probe) == path, "index and walk disagree on the probe");
    for (std::size_t i = 0; i < files.size() && i < fuzz::max_lookups; ++i)
        fuzz::expect(index.path_of(files[i].first) == fnt_path_of(fnt, files[i].first),
                     "index and walk disagree on a listed file");
    return 0;
}
