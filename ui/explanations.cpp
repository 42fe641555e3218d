#include "ui/explanations.h"

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

// 134217728 -> "134 217 728" (French groups of three, with a no-break space).
std::string size_text(std::uint64_t n)
{
    std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0)
            out += "\u00A0";
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

std::string label_of(const card_section& s)
{
    const auto label = section_label(s.code, s.path.c_str());
    return label && !label->empty() ? *label : "section " + crc_text(s.code);
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
        return "Le fichier source ne peut pas être lu : vérifiez son chemin, et que vous avez le droit de le "
               "lire.";
    case source_verdict::not_a_rom: {
        std::string text = "Ce fichier n'est pas une ROM Nintendo DS (" + size_text(f.size) + ").";
        if (card)
            text += " Le patch attend la ROM de " + game_name(card->original) + ", qui fait " +
                    size_text(card->original.size) + ".";
        return text + " Si votre ROM est dans une archive (.zip, .7z, .rar), extrayez-la d'abord.";
    }
    case source_verdict::cut:
        return "Cette ROM de " + game_name(f) + " est incomplète : elle fait " + size_text(f.size) +
               " au lieu de " + size_text(card ? card->original.size : 0) +
               ". La copie ou le téléchargement a sans doute été interrompu : refaites une copie complète de "
               "votre ROM.";
    case source_verdict::other_game:
        return "Cette ROM est celle d'un autre jeu : « " +
               (f.title.empty() ? std::string("sans titre") : f.title) + " » (code " +
               (f.game_code.empty() ? std::string("absent") : f.game_code) +
               "). Le patch ne s'applique qu'à " + expected_release(card) + " : choisissez la ROM de ce jeu.";
    case source_verdict::already_translated:
        return std::string("Cette ROM est déjà traduite : ") +
               (d.whole_file ? "c'est exactement la ROM que produit ce patch."
                             : "toutes les parties que le patch modifie sont déjà en français.") +
               " Il n'y a rien à refaire ; pour patcher à nouveau, partez de la ROM d'origine.";
    case source_verdict::other_release: {
        std::string text =
            "Cette ROM est bien " + game_name(f) +
            ", mais pas exactement la version pour laquelle le patch a été fait : c'est une autre "
            "version du jeu, ou une copie modifiée. Première différence : « " +
            label_of(d.differing) + " », CRC-32 attendu " + crc_text(d.differing.crc_before) + ", trouvé " +
            (d.found_crc ? crc_text(*d.found_crc) : std::string("absent")) + ".";
        if (card)
            text += " Il faut la ROM d'origine non modifiée, " + game_name(card->original) + " : " +
                    size_text(card->original.size) + ", CRC-32 " + crc_text(card->original.crc32) +
                    ", SHA-1 " + card->original.sha1 + ".";
        return text;
    }
    case source_verdict::expected:
        return "La ROM source est bien " + game_name(f) +
               ", celle qu'attend le patch : l'erreur vient d'ailleurs (la destination, la place sur le "
               "disque).";
    case source_verdict::game_unverified:
        return "La ROM source est bien Quillmoor (" + f.title + ", code " + f.game_code +
               "), mais sans la carte d'identité du patch il n'est pas possible de dire en quoi elle diffère "
               "de la "
               "version attendue.";
    }
    return {};
}

std::string describe_accepted_source(const source_diagnosis& d, const identity_card* card)
{
    const std::string text = "ROM reconnue : " + game_name(d.found) + ".";
    if (!card)
        return text + " Le patch peut être appliqué.";
    if (d.verdict == source_verdict::expected && d.whole_file)
        return text +
               " C'est exactement la version d'origine pour laquelle le patch a été fait : il peut être "
               "appliqué.";
    return text + " Le patch peut être appliqué, mais le fichier n'est pas identique à la version d'origine "
                  "attendue : le résultat ne pourra pas être vérifié.";
}

std::string describe_result(const rom_fingerprint& written, const identity_card* card)
{
    const std::string text = "SHA-1 de la ROM écrite : " + written.sha1;
    if (!card)
        return text + ".";
    if (written.same_file(card->translated))
        return text + " (vérifiée : c'est exactement la ROM traduite attendue).";
    return text + " (non vérifiée : la ROM traduite attendue a pour SHA-1 " + card->translated.sha1 +
           " ; la ROM source n'était sans doute pas exactement la version d'origine).";
}

} // namespace qm::ui
