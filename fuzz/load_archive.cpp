// The patch archive from anywhere, against a fixed game ROM whose paths the archive's file
// records name. The first byte chooses what the rest is:
//   even: a packed archive, unpacked and indexed by load_archive;
//   odd:  a cancel step byte, then an unpacked archive, which is packed here so that mutations
//         reach the records and blobs, loaded, and applied to the whole fixed game: every record
//         type, CPK entry patching, script fonts, font conversion, appended entries and a cancel
//         at the chosen progress position.

#include "engine/patch_archive.h"
#include "engine/patcher.h"
#include "fixed_game.h"
#include "fuzz_support.h"
#include "rom/nds_rom.h"

using namespace qm;

namespace {

class quiet_listener : public silent_listener {
public:
    patcher* owner = nullptr;
    std::uint32_t cancel_at = fuzz::no_cancel;

    void set_position(std::uint32_t position) override
    {
        if (position == cancel_at)
            owner->request_cancel();
    }
};

const fuzz::memory_file& game_file()
{
    static const fuzz::memory_file file(fuzz::the_fixed_game().rom);
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::input_reader in(data, size);
    const bool apply = in.u8() & fuzz::archive_mode_apply;
    nds_rom rom(game_file().path());
    patcher engine;
    quiet_listener listener;
    listener.owner = &engine;
    engine.attach(&rom, &listener);

    if (!apply) {
        const byte_span packed = in.rest();
        fuzz::attempt([&] { engine.load_archive(packed); });
        return 0;
    }

    listener.cancel_at = in.u8();
    const bytes packed = pack_archive(in.rest());
    if (!fuzz::attempt([&] { engine.load_archive(packed); }))
        return 0;
    fuzz::attempt([&] {
        pending_output out = rom.copy_to(fuzz::scratch_dir() / "patched.nds", engine);
        if (!engine.cancel_requested())
            out.commit();
    });
    fuzz::clear_scratch_dir();
    return 0;
}
