// CPK archives rebuilt ahead of their turn by worker threads: whatever the number of workers, the
// job writes the same ROM, and the listener sees the same calls, up to the same first error or
// the same cancel, as when the job's thread does all the work itself.

#include "cpk/cpk_builder.h"
#include "cpk/cpk_test_data.h"
#include "job_fixture.h"
#include "support/error_of.h"

namespace qm {
namespace {

class work_ahead : public test::job_fixture {
protected:
    // Three archives of a dozen entries (compressible, short, incompressible, empty), files in
    // between; the patch replaces, deltas and appends entries in each.
    void SetUp() override
    {
        job_fixture::SetUp();
        rom_description game = test::game_description();
        for (int a = 0; a < 3; ++a) {
            cpk_builder cpk;
            std::vector<std::uint32_t> list{1};
            for (std::uint32_t i = 0; i < 12; ++i) {
                const auto seed = static_cast<std::uint8_t>(a * 16 + i);
                const bytes entry = i % 4 == 0   ? test::pattern(5000 + 700 * i, seed)
                                    : i % 4 == 1 ? bytes(200 + i, seed)
                                    : i % 4 == 2 ? test::random_bytes(3000, seed)
                                                 : bytes();
                cpk.add_file(entry);
                if (i % 3 == 0) {
                    const bytes after = test::pattern(4000 + 100 * i, static_cast<std::uint8_t>(seed + 1));
                    list.insert(list.end(),
                                {i + 1, crc32(entry), 3, archive.add_blob(vcdiff_encode(entry, after))});
                }
            }
            list.insert(list.end(),
                        {0xFFFFFFFF, archive.add_blob(test::pattern(9000, static_cast<std::uint8_t>(a)))});
            const std::string name = "arc" + std::to_string(a) + ".cpk";
            game.root.push_back(rom_fs_node::file(name, cpk.write()));
            game.root.push_back(rom_fs_node::file("between" + std::to_string(a), test::pattern(600, 9)));
            lists.push_back(list);
            archive.add_file_record("/" + name, list);
        }
        write_game(game);
        packed = pack_archive(archive.build());
    }

    struct outcome {
        std::vector<std::string> calls; // up to the error, if any
        std::string error;
        bool written = false;
        bytes rom;
    };

    // `at_call` sees the patcher at each listener call, with the number of the call.
    outcome run(const bytes& with, unsigned workers, std::function<void(patcher&, std::size_t)> at_call = {})
    {
        std::filesystem::remove(destination);
        patcher p;
        p.use_workers(workers);
        outcome o;
        o.error = test::error_of([&] {
            run_job(with, &p, [&](patcher& e, const std::string& call) {
                o.calls.push_back(call);
                if (at_call)
                    at_call(e, o.calls.size() - 1);
            });
        });
        o.written = p.destination_written();
        if (std::filesystem::exists(destination))
            o.rom = read_whole_file(destination);
        return o;
    }

    static void expect_same(const outcome& got, const outcome& serial)
    {
        EXPECT_EQ(got.calls, serial.calls);
        EXPECT_EQ(got.error, serial.error);
        EXPECT_EQ(got.written, serial.written);
        EXPECT_EQ(got.rom, serial.rom);
    }

    archive_builder archive;
    std::vector<std::vector<std::uint32_t>> lists;
    bytes packed;
};

TEST_F(work_ahead, any_number_of_workers_writes_the_same_rom_with_the_same_calls)
{
    const outcome serial = run(packed, 0);
    ASSERT_EQ(serial.error, "");
    ASSERT_TRUE(serial.written);
    for (unsigned workers : {1u, 2u, 8u}) {
        SCOPED_TRACE(std::to_string(workers) + " workers");
        expect_same(run(packed, workers), serial);
    }
}

// An error that workers meet ahead shows at its archive's turn, after exactly the calls that the
// serial job makes before it: a bad checksum in the last archive, and a second archive whose
// table cannot be read.
TEST_F(work_ahead, an_error_found_ahead_shows_only_at_its_turn)
{
    archive_builder bad_checksum = archive;
    std::vector<std::uint32_t> list = lists[2];
    list[6] ^= 1; // the checksum of the second patched entry
    bad_checksum.add_file_record("/arc2.cpk", list);

    const bytes clean = read_whole_file(source);
    bytes damaged = clean;
    const nds_rom original(source);
    const std::uint16_t second = original.get_file_id("/arc1.cpk");
    damaged[get_le32(original.fat_bytes(), std::size_t{second} * 8) + 16] = 'X'; // its table's "@UTF"

    for (const bool damaged_table : {false, true}) {
        SCOPED_TRACE(damaged_table ? "damaged table" : "bad checksum");
        write_whole_file(source, damaged_table ? damaged : clean);
        const bytes with = damaged_table ? packed : pack_archive(bad_checksum.build());
        const outcome serial = run(with, 0);
        EXPECT_NE(serial.error, "");
        for (unsigned workers : {2u, 8u})
            expect_same(run(with, workers), serial);
    }
}

TEST_F(work_ahead, a_cancel_at_any_call_ends_the_job_as_it_does_without_workers)
{
    const std::size_t calls = run(packed, 0).calls.size();
    for (std::size_t k = 0; k < calls; ++k) {
        SCOPED_TRACE("cancel at call " + std::to_string(k));
        const auto cancel_at_k = [k](patcher& p, std::size_t call) {
            if (call == k)
                p.request_cancel();
        };
        expect_same(run(packed, 8, cancel_at_k), run(packed, 0, cancel_at_k));
    }
}

} // namespace
} // namespace qm
