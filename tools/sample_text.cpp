#include "tools/sample_text.h"

#include "tools/seeded_random.h"

#include <stdexcept>

namespace qm {

namespace {

template <std::size_t N> const char* pick(seeded_random& random, const char* const (&words)[N])
{
    return words[random.below(N)];
}

// English vocabulary of the scenes.
constexpr const char* en_names[] = {"Elise",       "Corwin",       "Maud",           "the Archivist",
                                    "Brother Tam", "Ysolde",       "the old scribe", "Captain Rook",
                                    "Nettle",      "the Inkwarden"};
constexpr const char* en_verbs[] = {"found",  "lost", "carried", "burned", "copied",  "hid",
                                    "sealed", "read", "forgot",  "mended", "guarded", "stole"};
constexpr const char* en_things[] = {"the last quill",    "a sealed letter",   "the map of the marsh",
                                     "the moor's ledger", "an iron key",       "the bell tower",
                                     "a torn page",       "the silver inkpot", "the lantern",
                                     "the old chapel",    "our supplies"};
constexpr const char* en_places[] = {
    "at dawn",      "near the mill", "under the bridge", "in the library",    "before the storm",
    "by the river", "at the inn",    "in the cellar",    "on the north road", "after midnight"};
constexpr const char* en_openers[] = {"Listen.", "Wait!",      "Hurry up.",  "Well...",      "Look!",
                                      "Quiet.",  "I knew it.", "Not again!", "Come closer.", "Be careful."};

// French vocabulary: every accent the translation needs, apostrophes as U+2019 and oe ligatures.
constexpr const char* fr_names[] = {"Élise",
                                    "Corwin",
                                    "Maud",
                                    "l’Archiviste",
                                    "frère Tam",
                                    "Ysolde",
                                    "le vieux scribe",
                                    "la capitaine Rook",
                                    "Ortie",
                                    "la Gardienne d’encre"};
constexpr const char* fr_verbs[] = {"a trouvé", "a perdu", "a porté",  "a brûlé",  "a recopié", "a caché",
                                    "a scellé", "a lu",    "a oublié", "a réparé", "a gardé",   "a dérobé"};
constexpr const char* fr_things[] = {
    "la dernière plume", "une lettre scellée",  "la carte du marais",  "le registre de la lande",
    "une clé de fer",    "le clocher",          "une page déchirée",   "l’encrier d’argent",
    "la lanterne",       "la vieille chapelle", "nos provisions",      "le cœur du manuscrit",
    "l’œuvre du maître", "les vœux de sa sœur", "le garçon du château"};
constexpr const char* fr_places[] = {"à l’aube",          "près du moulin",   "sous le pont",
                                     "à la bibliothèque", "avant l’orage",    "au bord de la rivière",
                                     "à l’auberge",       "dans la cave",     "sur la route du nord",
                                     "après minuit",      "où nul ne va",     "là-bas, à l’est",
                                     "sur l’île",         "à côté de l’hôtel"};
constexpr const char* fr_openers[] = {
    "Écoute.",  "Attends !", "Dépêche-toi.",  "Eh bien…",   "Regarde !", "Silence.",     "Je le savais.",
    "Encore ?", "Approche.", "Sois prudent.", "Ça alors !", "Ô misère…", "Œil pour œil."};

constexpr const char* en_items[] = {"Quill",  "Inkpot",  "Candle",  "Lantern", "Seal",   "Ledger",
                                    "Ribbon", "Satchel", "Compass", "Key",     "Scroll", "Feather"};
constexpr const char* en_adjectives[] = {"Old", "Iron", "Silver", "Bright", "Heavy", "Torn", "Lucky", "Grey"};
constexpr const char* fr_items[] = {"Plume", "Encrier", "Bougie",   "Lanterne", "Sceau",     "Registre",
                                    "Ruban", "Besace",  "Boussole", "Clé",      "Parchemin", "Pièce"};
constexpr const char* fr_adjectives[] = {"ancienne", "de fer", "d’argent", "éclatante", "lourde",
                                         "déchirée", "bénie",  "grisâtre", "de l’œuvre"};

std::u16string capitalised(std::u16string s)
{
    if (!s.empty() && s[0] >= u'a' && s[0] <= u'z')
        s[0] = static_cast<char16_t>(s[0] - u'a' + u'A');
    else if (s.size() > 1 && s[0] == u'l' && s[1] == u'\u2019')
        s[0] = u'L';
    return s;
}

std::u16string english_sentence(seeded_random& random)
{
    std::string s = std::string(pick(random, en_names)) + " " + pick(random, en_verbs) + " " +
                    pick(random, en_things) + " " + pick(random, en_places);
    return capitalised(utf16_of(s));
}

std::u16string french_sentence(seeded_random& random)
{
    std::string s = std::string(pick(random, fr_names)) + " " + pick(random, fr_verbs) + " " +
                    pick(random, fr_things) + " " + pick(random, fr_places);
    return capitalised(utf16_of(s));
}

} // namespace

std::u16string utf16_of(const std::string& utf8)
{
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : 3;
        if (extra == 3 || extra > utf8.size() - i - 1)
            throw std::invalid_argument("utf16_of: not a BMP UTF-8 string");
        char32_t code = extra == 0 ? c : extra == 1 ? (c & 0x1F) : (c & 0x0F);
        for (std::size_t k = 1; k <= extra; ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out.push_back(static_cast<char16_t>(code));
        i += extra + 1;
    }
    return out;
}

std::vector<std::u16string> english_lines(seeded_random& random, std::size_t count)
{
    std::vector<std::u16string> lines;
    for (std::size_t i = 0; i < count; ++i) {
        switch (random.below(4)) {
        case 0:
            lines.push_back(u"\"" + english_sentence(random) + u".\"");
            break;
        case 1:
            lines.push_back(utf16_of(pick(random, en_openers)) + u" " + english_sentence(random) + u"?");
            break;
        case 2:
            lines.push_back(english_sentence(random) + u"...");
            break;
        default:
            lines.push_back(english_sentence(random) + u", and " + english_sentence(random) + u".");
            break;
        }
    }
    return lines;
}

std::vector<std::u16string> french_lines(seeded_random& random, std::size_t count)
{
    // French typography: a no-break space inside the guillemets and before ? and !.
    const std::u16string nbsp = u"\u00A0";
    std::vector<std::u16string> lines;
    for (std::size_t i = 0; i < count; ++i) {
        switch (random.below(4)) {
        case 0:
            lines.push_back(u"\u00AB" + nbsp + french_sentence(random) + u"." + nbsp + u"\u00BB");
            break;
        case 1:
            lines.push_back(u"\u2014 " + utf16_of(pick(random, fr_openers)) + u" " + french_sentence(random) +
                            nbsp + u"?");
            break;
        case 2:
            lines.push_back(french_sentence(random) + u"\u2026");
            break;
        default:
            lines.push_back(french_sentence(random) + u", et " + french_sentence(random) + u".");
            break;
        }
    }
    return lines;
}

bytes make_script_container(std::uint32_t script_number, const std::vector<std::u16string>& lines,
                            byte_span commands)
{
    constexpr std::size_t header_length = 32;
    std::u16string text;
    std::vector<std::uint16_t> starts;
    for (const std::u16string& line : lines) {
        if (!text.empty())
            text.push_back(u'\n');
        starts.push_back(static_cast<std::uint16_t>(text.size()));
        text += line;
    }
    const std::size_t table_length = round_up(starts.size() * 2, 4);
    const std::size_t text_start = header_length + table_length;
    const std::size_t text_end = text_start + text.size() * 2;
    const std::size_t command_offset = round_up(text_end, 4);

    bytes out(command_offset + commands.size(), 0);
    const char magic[] = "QSCR";
    std::copy(magic, magic + 4, out.begin());
    put_le32(out, 4, 1);
    put_le32(out, 8, static_cast<std::uint32_t>(lines.size()));
    put_le32(out, 12, script_number);
    put_le32(out, 16, header_length);
    put_le32(out, 20, static_cast<std::uint32_t>(command_offset));
    put_le32(out, 24, static_cast<std::uint32_t>(text_start));
    put_le32(out, 28, static_cast<std::uint32_t>(text_end));
    for (std::size_t i = 0; i < starts.size(); ++i)
        put_le16(out, header_length + 2 * i, starts[i]);
    for (std::size_t i = 0; i < text.size(); ++i)
        put_le16(out, text_start + 2 * i, static_cast<std::uint16_t>(text[i]));
    std::copy(commands.begin(), commands.end(), out.begin() + static_cast<std::ptrdiff_t>(command_offset));
    return out;
}

void put_utf16_field(mutable_byte_span out, std::size_t offset, const std::u16string& text,
                     std::size_t code_units)
{
    for (std::size_t i = 0; i < code_units; ++i)
        put_le16(out, offset + 2 * i, i < text.size() ? static_cast<std::uint16_t>(text[i]) : 0);
}

std::u16string english_name(seeded_random& random)
{
    return utf16_of(std::string(pick(random, en_adjectives)) + " " + pick(random, en_items));
}

std::u16string french_name(seeded_random& random)
{
    return utf16_of(std::string(pick(random, fr_items)) + " " + pick(random, fr_adjectives));
}

} // namespace qm
