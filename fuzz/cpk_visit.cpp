// CPK archives from anywhere: the table of contents and every entry, expanded. Every entry
// handed out must have the size its ITOC row gives; an archive that is read completely is
// built again from its files and must read back to the same files.

#include "cpk/cpk_visit.h"
#include "cpk/cpk_builder.h"
#include "fuzz_support.h"

using namespace qm;

namespace {

// Rebuilding compresses every file; beyond this many expanded bytes it is skipped.
constexpr std::size_t max_rebuilt_bytes = 1u << 16;

struct visited_file {
    std::uint32_t id;
    bytes data;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const byte_span archive(data, size);
    std::vector<cpk_entry> entries;
    if (!fuzz::attempt([&] { entries = cpk_entries(archive); }))
        return 0;

    std::vector<visited_file> files;
    std::size_t total = 0;
    const bool complete = fuzz::attempt([&] {
        cpk_visit(archive, [&](std::uint32_t id, byte_span file) {
            const std::size_t n = files.size();
            fuzz::expect(n < entries.size() && entries[n].id == id, "entries visited out of order");
            fuzz::expect(entries[n].extract_size == file.size(), "entry size differs from its ITOC row");
            total += file.size();
            files.push_back({id, total <= max_rebuilt_bytes ? bytes(file.begin(), file.end()) : bytes()});
        });
    });
    if (!complete || total > max_rebuilt_bytes)
        return 0;
    fuzz::expect(files.size() == entries.size(), "not every entry was visited");

    cpk_builder builder;
    for (const visited_file& f : files)
        builder.add_file(f.data);
    const bytes rebuilt = builder.write();
    std::size_t n = 0;
    fuzz::expect(
        fuzz::attempt([&] {
            cpk_visit(rebuilt, [&](std::uint32_t id, byte_span file) {
                fuzz::expect(n < files.size() && id == n + 1, "rebuilt archive renumbered its files");
                fuzz::expect(bytes(file.begin(), file.end()) == files[n].data, "rebuilt file differs");
                ++n;
            });
        }),
        "rebuilt archive does not read");
    fuzz::expect(n == files.size(), "rebuilt archive lost files");
    return 0;
}
