// For the typography check (french_texts_test.py): prints every sentence the explanations can make,
// for each kind of file, with and without the patch's identity card, and every way a differing
// section is named; then the progress display's texts, which must stay as they are quoted. Each
// record is "own" or "quoted NAME", a tab and the text, and ends with a zero byte.
#include "rom/rom_visitor.h"
#include "ui/explanations.h"
#include "ui/progress_state.h"
#include "ui/ui_texts.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

void print(const std::string& kind, const std::string& text)
{
    std::fwrite(kind.data(), 1, kind.size(), stdout);
    std::fputc('\t', stdout);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\0', stdout);
}

qm::rom_fingerprint release(const char* code, std::uint64_t size, std::uint32_t crc, char digit)
{
    return {"QLMOR", code, size, crc, std::string(40, digit)};
}

} // namespace

int main()
{
    using qm::source_verdict;
    qm::identity_card card;
    card.original = release("YQLE", 134217728, 0x1B2C3D4E, 'a');
    card.translated = release("YQLE", 134217728, 0x5F6A7B8C, 'b');
    const qm::identity_card* cards[] = {&card, nullptr};

    // One differing section of every kind, a file without its path and a kind the labels lack.
    std::vector<qm::card_section> sections;
    for (std::uint16_t kind = 0; kind <= 12; ++kind)
        sections.push_back({qm::make_section_code(kind, 3), 1, 2, kind == qm::file ? "data/script.cpk" : ""});
    sections.push_back({qm::make_section_code(qm::file, 4), 1, 2, ""});

    for (const qm::identity_card* c : cards) {
        for (const auto verdict :
             {source_verdict::unreadable, source_verdict::not_a_rom, source_verdict::cut,
              source_verdict::other_game, source_verdict::already_translated, source_verdict::other_release,
              source_verdict::expected, source_verdict::game_unverified}) {
            for (const bool whole : {false, true}) {
                qm::source_diagnosis d;
                d.verdict = verdict;
                d.whole_file = whole;
                d.found = release(whole ? "YQLP" : "YQLE", whole ? 1 : 16384, 0x01020304, 'c');
                if (verdict == source_verdict::other_game && whole)
                    d.found.title = d.found.game_code = "";
                if (verdict != source_verdict::other_release) {
                    print("own", qm::ui::explain_refusal(d, c));
                    print("own", qm::ui::describe_accepted_source(d, c));
                    d.trimmed = true;
                    print("own", qm::ui::describe_accepted_source(d, c));
                    continue;
                }
                for (const qm::card_section& s : sections) {
                    d.differing = s;
                    d.found_crc = whole ? std::optional<std::uint32_t>(7) : std::nullopt;
                    print("own", qm::ui::explain_refusal(d, c));
                }
            }
        }
        print("own", qm::ui::describe_result(card.translated, c));
        print("own", qm::ui::describe_result(card.original, c));
    }

    print("quoted opening", qm::ui::text_opening_source);
    print("quoted initialising", qm::ui::text_initialising);
    print("quoted cancelling", qm::ui::text_cancelling);
    print("quoted caption", qm::ui::text_progress_caption);
    print("quoted caption 42", qm::ui::progress_caption(42));
    print("quoted success", qm::ui::text_success);
    print("quoted success title", qm::ui::text_success_title);
    print("quoted error title", qm::ui::text_error_title);
    print("quoted error", qm::ui::error_text("MESSAGE"));
    print("quoted bad source", qm::ui::text_bad_source);
    print("quoted source is folder", qm::ui::text_source_is_folder);
    print("quoted destination is folder", qm::ui::text_destination_is_folder);
    print("quoted same file", qm::ui::text_same_file);
    return 0;
}
