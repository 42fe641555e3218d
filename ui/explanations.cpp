#include "ui/explanations.h"

#include "rom/rom_visitor.h"
#include "ui/progress_state.h"

#include <cstdio>

namespace qm::ui {

namespace {

std::string crc_text(std::uint32_t crc)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(crc));
    return text;
}

// 134217728 -> "134 217 728 octets": groups of three digits with a narrow no-break space, a
// no-break space before the unit.
std::string size_text(std::uint64_t n)
{
    std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0)
            out += "\u202F";
        out += digits[i];
    }
    return out + (n < 2 ? "\u00A0octet" : "\u00A0octets");
}

// The region a DS game code's last letter names, for the players' sake.
std::string region_of(const std::string& game_code)
{
    if (game_code.size() != 4)
        return {};
    switch (game_code[3]) {
    case 'E':
        return ", Amérique du Nord";
    case 'P':
        return ", Europe";
    case 'J':
        return ", Japon";
    case 'F':
        return ", France";
    default:
        return {};
    }
}

std::string expected_release(const identity_card* card)
{
    return card ? game_name(card->original) : std::string("Quillmoor (QLMOR, code YQLE ou YQLP)");
}

// A section named in French, for the sentences below: the progress line's labels ("Header",
// "ARM9 binary") are the program's own status texts; a file keeps its path and an overlay its
// progress label, which are names rather than words.
std::string label_of(const card_section& s)
{
    switch (section_kind_of(s.code)) {
    case padding:
        return "remplissage";
    case header:
        return "en-tête";
    case arm9:
        return "programme ARM9";
    case arm7:
        return "programme ARM7";
    case fnt:
        return "table des noms de fichiers";
    case fat:
        return "table d'allocation des fichiers";
    case arm9_ovt:
        return "table des overlays ARM9";
    case arm7_ovt:
        return "table des overlays ARM7";
    case banner:
        return "bannière";
    case arm9_overlay:
    case arm7_overlay:
        return "overlay " + section_label(s.code, nullptr).value_or(std::string());
    case file:
        if (!s.path.empty())
            return s.path;
        break;
    default:
        break;
    }
    return "section " + crc_text(s.code);
}

} // namespace

std::string game_name(const rom_fingerprint& release)
{
    return "Quillmoor (" + release.title + ", code " + release.game_code + region_of(release.game_code) + ")";
}

std::string explain_refusal(const source_diagnosis& d, const identity_card* card)
{
    const rom_fingerprint& f = d.found;
    switch (d.verdict) {
    case source_verdict::unreadable:
        return "Le fichier source ne peut pas être lu\u00A0: vérifiez son chemin, et que vous avez le droit "
               "de le lire.";
    case source_verdict::not_a_rom: {
        std::string text = "Ce fichier n'est pas une ROM Nintendo DS (" + size_text(f.size) + ").";
        if (card)
            text += " Le patch attend la ROM de " + game_name(card->original) + ", qui fait " +
                    size_text(card->original.size) + ".";
        return text + " Si votre ROM est dans une archive (.zip, .7z, .rar), extrayez-la d'abord.";
    }
    case source_verdict::cut:
        return "Cette ROM de " + game_name(f) + " est incomplète\u00A0: elle fait " + size_text(f.size) +
               " au lieu de " + size_text(card ? card->original.size : 0) +
               ". La copie ou le téléchargement a sans doute été interrompu\u00A0: refaites une copie "
               "complète de votre ROM.";
    case source_verdict::other_game:
        return "Cette ROM est celle d'un autre jeu\u00A0: «\u00A0" +
               (f.title.empty() ? std::string("sans titre") : f.title) + "\u00A0» (code " +
               (f.game_code.empty() ? std::string("absent") : f.game_code) +
               "). Le patch ne s'applique qu'à " + expected_release(card) +
               "\u00A0: choisissez la ROM de ce jeu.";
    case source_verdict::already_translated:
        return std::string("Cette ROM est déjà traduite\u00A0: ") +
               (d.whole_file ? "c'est exactement la ROM que produit ce patch."
                             : "toutes les parties que le patch modifie sont déjà en français.") +
               " Il n'y a rien à refaire\u202F; pour patcher à nouveau, partez de la ROM d'origine.";
    case source_verdict::other_release: {
        std::string text =
            "Cette ROM est bien " + game_name(f) +
            ", mais pas exactement la version pour laquelle le patch a été fait\u00A0: c'est une autre "
            "version du jeu, ou une copie modifiée. Première différence\u00A0: «\u00A0" +
            label_of(d.differing) + "\u00A0», CRC-32 attendu " + crc_text(d.differing.crc_before) +
            ", trouvé " + (d.found_crc ? crc_text(*d.found_crc) : std::string("absent")) + ".";
        if (card)
            text += " Il faut la ROM d'origine non modifiée, " + game_name(card->original) +
                    "\u00A0: " + size_text(card->original.size) + ", CRC-32 " +
                    crc_text(card->original.crc32) + ", SHA-1 " + card->original.sha1 + ".";
        return text;
    }
    case source_verdict::expected:
        return "La ROM source est bien " + game_name(f) +
               ", celle qu'attend le patch\u00A0: l'erreur vient d'ailleurs (la destination, la place sur le "
               "disque).";
    case source_verdict::game_unverified:
        return "La ROM source est bien Quillmoor (" + f.title + ", code " + f.game_code +
               "), mais sans la carte d'identité du patch il n'est pas possible de dire en quoi elle diffère "
               "de la version attendue.";
    }
    return {};
}

std::string describe_accepted_source(const source_diagnosis& d, const identity_card* card)
{
    const std::string text = "ROM reconnue\u00A0: " + game_name(d.found) + ".";
    if (!card)
        return text + " Le patch peut être appliqué.";
    if (d.verdict == source_verdict::expected && d.trimmed)
        return text +
               " C'est la version d'origine pour laquelle le patch a été fait, sans le remplissage qui la "
               "termine (une copie réduite) : il peut être appliqué, et le résultat sera la ROM traduite "
               "attendue.";
    if (d.verdict == source_verdict::expected && d.whole_file)
        return text +
               " C'est exactement la version d'origine pour laquelle le patch a été fait\u00A0: il peut être "
               "appliqué.";
    return text + " Le patch peut être appliqué, mais le fichier n'est pas identique à la version d'origine "
                  "attendue\u00A0: le résultat ne pourra pas être vérifié.";
}

std::string describe_result(const rom_fingerprint& written, const identity_card* card)
{
    const std::string text = "SHA-1 de la ROM écrite\u00A0: " + written.sha1;
    if (!card)
        return text + ".";
    if (written.same_file(card->translated))
        return text + " (vérifiée\u00A0: c'est exactement la ROM traduite attendue).";
    return text + " (non vérifiée\u00A0: la ROM traduite attendue a pour SHA-1 " + card->translated.sha1 +
           "\u202F; la ROM source n'était sans doute pas exactement la version d'origine).";
}

} // namespace qm::ui
