#include "engine/identity_card.h"

#include "common/bytes.h"
#include "engine/output_fingerprint.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>

namespace qm {

namespace {

constexpr std::string_view first_line = "quillmoor identity card 1";
constexpr std::size_t read_block = 1u << 20;

std::string printable(std::string_view raw)
{
    std::string text;
    for (char c : raw)
        text.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    return text;
}

std::string hex32(std::uint32_t v)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(v));
    return text;
}

[[noreturn]] void bad_card(const std::string& why)
{
    throw std::runtime_error("identity card - " + why);
}

template <class T> T number(std::string_view text, int base, const char* what)
{
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        bad_card(std::string("bad ") + what + " \"" + printable(text) + "\"");
    return value;
}

std::string_view next_word(std::string_view& rest)
{
    const std::size_t end = rest.find(' ');
    std::string_view word = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return word;
}

void write_fingerprint(std::string& out, const char* which, const rom_fingerprint& f)
{
    const std::string p = std::string(which) + ".";
    out += p + "title " + printable(f.title) + "\n";
    out += p + "game_code " + printable(f.game_code) + "\n";
    out += p + "size " + std::to_string(f.size) + "\n";
    out += p + "crc32 " + hex32(f.crc32) + "\n";
    out += p + "sha1 " + f.sha1 + "\n";
}

rom_fingerprint read_fingerprint(const std::map<std::string, std::string, std::less<>>& values,
                                 const char* which)
{
    const auto value = [&](const char* key) -> const std::string& {
        const auto it = values.find(std::string(which) + "." + key);
        if (it == values.end())
            bad_card(std::string("no ") + which + "." + key);
        return it->second;
    };
    rom_fingerprint f;
    f.title = value("title");
    f.game_code = value("game_code");
    f.size = number<std::uint64_t>(value("size"), 10, "size");
    f.crc32 = number<std::uint32_t>(value("crc32"), 16, "CRC-32");
    f.sha1 = value("sha1");
    if (f.sha1.size() != 40 || f.sha1.find_first_not_of("0123456789abcdef") != std::string::npos)
        bad_card("bad SHA-1 \"" + printable(f.sha1) + "\"");
    return f;
}

} // namespace

void read_header_names(std::string_view header, rom_fingerprint& into)
{
    const std::string_view title = header.substr(0, std::min<std::size_t>(header.size(), 12));
    into.title = printable(title.substr(0, title.find('\0')));
    into.game_code = header.size() > 12 ? printable(header.substr(12, 4)) : std::string();
}

rom_fingerprint fingerprint_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("can't open " + path.string());
    output_fingerprint fingerprint;
    bytes block(read_block);
    while (in) {
        in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
        const auto n = static_cast<std::size_t>(in.gcount());
        if (n == 0)
            break;
        fingerprint.take(byte_span(block.data(), n));
    }
    if (in.bad())
        throw std::runtime_error("can't read " + path.string());
    return fingerprint.result();
}

std::string write_identity_card(const identity_card& card)
{
    std::string out = std::string(first_line) + "\n";
    write_fingerprint(out, "original", card.original);
    write_fingerprint(out, "translated", card.translated);
    for (const card_section& s : card.sections) {
        out += "section " + hex32(s.code) + " " + hex32(s.crc_before) + " " + hex32(s.crc_after);
        if (!s.path.empty())
            out += " " + printable(s.path);
        out += "\n";
    }
    return out;
}

identity_card read_identity_card(std::string_view text)
{
    std::map<std::string, std::string, std::less<>> values;
    identity_card card;
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {
            if (line != first_line)
                bad_card("not an identity card");
            first = false;
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        std::string_view rest = line;
        const std::string_view key = next_word(rest);
        if (key != "section") {
            values.emplace(std::string(key), std::string(rest));
            continue;
        }
        card_section s;
        s.code = number<std::uint32_t>(next_word(rest), 16, "section code");
        s.crc_before = number<std::uint32_t>(next_word(rest), 16, "CRC-32");
        s.crc_after = number<std::uint32_t>(next_word(rest), 16, "CRC-32");
        s.path = std::string(rest);
        card.sections.push_back(std::move(s));
    }
    if (first)
        bad_card("not an identity card");
    card.original = read_fingerprint(values, "original");
    card.translated = read_fingerprint(values, "translated");
    return card;
}

std::filesystem::path card_path_for(const std::filesystem::path& archive)
{
    std::filesystem::path card = archive;
    card += ".card";
    return card;
}

} // namespace qm
