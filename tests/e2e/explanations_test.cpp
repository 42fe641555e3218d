// What quillmoor-patch tells a player about the ROM they brought, on ROMs made from the sample
// game: the engine's message as ever, then what the file is; --check; the proof of a result.

#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "engine/crc32.h"
#include "engine/identity_card.h"
#include "rom/nds_rom.h"

#include <gtest/gtest.h>

#include <functional>

namespace qm::test {
namespace {

const identity_card& sample_card()
{
    static const identity_card card = [] {
        const bytes text = read_whole_file(sample_dir() / "patch.bin.card");
        return read_identity_card(std::string(text.begin(), text.end()));
    }();
    return card;
}

std::string hex_crc(std::uint32_t crc)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(crc));
    return text;
}

// The original with one byte of its ARM9 binary changed.
bytes modified_arm9()
{
    bytes rom = read_whole_file(sample_original());
    rom[get_le32(rom, 0x20) + 100] ^= 0xFF;
    return rom;
}

TEST(explanations, each_kind_of_wrong_file_is_named_after_the_engine_message)
{
    const bytes original = read_whole_file(sample_original());
    const bytes translation = read_whole_file(sample_translation());
    scratch_dir dir;
    write_whole_file(dir / "m.nds", modified_arm9());
    const std::uint32_t modified_crc = crc32(nds_rom(dir / "m.nds").read_arm9(true));
    const card_section& arm9 = sample_card().sections.front();
    ASSERT_EQ(arm9.code, 2u);
    const std::string not_a_rom = "nds_rom::nds_rom - input file is not a valid NDS ROM",
                      bad_checksum = "patcher::visit - bad checksum";
    const struct {
        std::function<bytes()> make;
        std::string message;     // the engine's, exactly
        std::string explanation; // a piece of what follows it
    } cases[] = {
        {[&] {
             bytes r = original;
             std::copy_n("ZELDA\0AZEP\0\0AZEP", 16, r.begin()); // title, then the code at 12
             return r;
         },
         "Input is not a valid Quillmoor game",
         "Cette ROM est celle d'un autre jeu\u00A0: «\u00A0ZELDA\u00A0» (code AZEP)."},
        {[&] { return bytes(original.begin(), original.begin() + 0x4000); }, not_a_rom,
         "est incomplète\u00A0: elle fait 16\u202F384\u00A0octets au lieu de "
         "4\u202F194\u202F304\u00A0octets."},
        {[] { return bytes(250, 'x'); }, not_a_rom,
         "Ce fichier n'est pas une ROM Nintendo DS (250\u00A0octets)."},
        {[&] { return translation; }, bad_checksum,
         "Cette ROM est déjà traduite\u00A0: c'est exactement la ROM que produit ce patch."},
        {[&] {
             bytes r = translation;
             r[get_le32(r, 0x30) + 4] ^= 1; // the ARM7 binary, which the patch leaves alone
             return r;
         },
         bad_checksum, "toutes les parties que le patch modifie sont déjà en français."},
        {modified_arm9, bad_checksum,
         "Première différence\u00A0: «\u00A0programme ARM9\u00A0», CRC-32 attendu " +
             hex_crc(arm9.crc_before) + ", trouvé " + hex_crc(modified_crc) +
             ". Il faut la ROM d'origine non modifiée"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.explanation);
        write_whole_file(dir / "in.nds", c.make());
        std::string err;
        for (const std::vector<std::filesystem::path>& args :
             {std::vector<std::filesystem::path>{"--check", dir / "in.nds", "--archive",
                                                 sample_dir() / "patch.bin"},
              {dir / "in.nds", dir / "out.nds", "--archive", sample_dir() / "patch.bin", "--quiet"}}) {
            EXPECT_EQ(run_program("quillmoor-patch", args, err, true), 1) << err;
            EXPECT_EQ(err.rfind("Une erreur s'est produite:\n\n" + c.message + "\n\n", 0), 0u) << err;
            EXPECT_NE(err.find(c.explanation), std::string::npos) << err;
        }
        EXPECT_FALSE(std::filesystem::exists(dir / "out.nds"));
    }
}

TEST(explanations, a_check_names_the_release_and_a_run_proves_its_result)
{
    scratch_dir dir;
    std::string out;
    EXPECT_EQ(run_program("quillmoor-patch", {"--check", sample_original()}, out, true), 0) << out;
    EXPECT_EQ(
        out,
        "ROM reconnue\u00A0: Quillmoor (QLMOR, code YQLE, Amérique du Nord). C'est exactement la version "
        "d'origine pour laquelle le patch a été fait\u00A0: il peut être appliqué.\n");

    // The built-in card is the default archive's; the sample's patch comes with its own.
    EXPECT_EQ(run_program("quillmoor-patch",
                          {sample_original(), dir / "out.nds", "--archive", sample_dir() / "patch.bin"}, out,
                          true),
              0)
        << out;
    EXPECT_NE(out.find("SHA-1 de la ROM écrite\u00A0: " + sample_card().translated.sha1 +
                       " (vérifiée\u00A0: c'est exactement la ROM traduite attendue).\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(read_whole_file(dir / "out.nds"), read_whole_file(sample_translation()));

    // Without a card beside the archive: the run works, with fewer explanations.
    std::filesystem::copy_file(sample_dir() / "patch.bin", dir / "bare.patch");
    write_whole_file(dir / "m.nds", modified_arm9());
    EXPECT_EQ(run_program("quillmoor-patch",
                          {dir / "m.nds", dir / "out2.nds", "--archive", dir / "bare.patch"}, out),
              1);
    EXPECT_NE(out.find("sans la carte d'identité du patch"), std::string::npos) << out;
    EXPECT_EQ(run_program("quillmoor-patch",
                          {sample_original(), dir / "out2.nds", "--archive", dir / "bare.patch"}, out),
              0);
    EXPECT_NE(out.find("SHA-1 de la ROM écrite\u00A0: " + sample_card().translated.sha1 + ".\n"),
              std::string::npos)
        << out;
}

// A dump trimmed to the data its header says it holds: checked as the original release, and
// patched into exactly the translation, proven.
TEST(explanations, a_trimmed_dump_is_named_as_such_and_its_result_proven)
{
    const bytes original = read_whole_file(sample_original());
    scratch_dir dir;
    write_whole_file(dir / "trimmed.nds", byte_span(original).first(get_le32(original, 0x80)));
    std::string out;
    EXPECT_EQ(run_program("quillmoor-patch",
                          {"--check", dir / "trimmed.nds", "--archive", sample_dir() / "patch.bin"}, out,
                          true),
              0)
        << out;
    EXPECT_NE(out.find("une copie réduite"), std::string::npos) << out;
    EXPECT_EQ(run_program("quillmoor-patch",
                          {dir / "trimmed.nds", dir / "out.nds", "--archive", sample_dir() / "patch.bin"},
                          out, true),
              0)
        << out;
    EXPECT_NE(out.find("(vérifiée"), std::string::npos) << out;
    EXPECT_EQ(read_whole_file(dir / "out.nds"), read_whole_file(sample_translation()));
}

// DSi-enhanced dumps whose DSi area cannot be carried over: trimmed to their DS part (the ARM9i
// lies past the end) or with the area laid over the DS sections. Checked and patched like any DS
// ROM: the translation, with the header's DSi fields as they were.
TEST(explanations, a_dsi_dump_whose_area_cannot_be_carried_is_checked_and_patched_alike)
{
    const bytes original = read_whole_file(sample_original());
    const bytes translation = read_whole_file(sample_translation());
    scratch_dir dir;
    for (const std::uint32_t arm9i_offset : {static_cast<std::uint32_t>(original.size()), 0x4000u}) {
        SCOPED_TRACE(arm9i_offset);
        bytes dump = original;
        dump[0x012] = 2; // DSi-enhanced
        put_le32(dump, 0x1C0, arm9i_offset);
        put_le32(dump, 0x1CC, 0x1000);
        write_whole_file(dir / "dsi.nds", dump);
        std::string err;
        EXPECT_EQ(run_program("quillmoor-patch",
                              {"--check", dir / "dsi.nds", "--archive", sample_dir() / "patch.bin"}, err,
                              true),
                  0)
            << err;
        EXPECT_EQ(run_program(
                      "quillmoor-patch",
                      {dir / "dsi.nds", dir / "out.nds", "--archive", sample_dir() / "patch.bin", "--quiet"},
                      err, true),
                  0)
            << err;
        const bytes out = read_whole_file(dir / "out.nds");
        ASSERT_EQ(out.size(), translation.size());
        EXPECT_TRUE(std::equal(out.begin() + 0x180, out.begin() + 0x230, dump.begin() + 0x180));
        EXPECT_TRUE(std::equal(out.begin() + 0x230, out.end(), translation.begin() + 0x230));
    }
}

} // namespace
} // namespace qm::test
