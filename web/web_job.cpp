// The browser edition's entry points, called by the worker script (worker.js) and by the node
// test of the engine: one patch job from a source path in the module's file system to the
// worker script, piece by piece (web_sink), with the proof of the result or a failure explained
// with the patch's identity card, as by the command-line patcher; and the progress dialog's texts
// that the page shows itself.

#include "engine/identity_card.h"
#include "engine/output_fingerprint.h"
#include "engine/patcher.h"
#include "engine/source_diagnosis.h"
#include "ui/explanations.h"
#include "ui/progress_state.h"
#include "ui/ui_texts.h"
#include "web/web_progress.h"
#include "web/web_sink.h"

#include <memory>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

// The packed patch archive and its identity card (empty when the archive came without one),
// compiled in by the build (cmake/embed_file.cmake).
extern "C" const unsigned char qm_embedded_archive[];
extern "C" const unsigned long qm_embedded_archive_size;
extern "C" const unsigned char qm_embedded_card[];
extern "C" const unsigned long qm_embedded_card_size;

namespace {

// A patch works without its card, with fewer explanations; so does one whose card is unreadable.
std::optional<qm::identity_card> built_in_card()
{
    const std::string_view text(reinterpret_cast<const char*>(qm_embedded_card), qm_embedded_card_size);
    if (text.empty())
        return std::nullopt;
    try {
        return qm::read_identity_card(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The engine's message exactly as it is, then what the file is and what to do, as the
// command-line patcher says it.
std::string failure_text(const std::string& message, const char* source)
{
    std::string text = qm::ui::error_text(message);
    try {
        const std::optional<qm::identity_card> card = built_in_card();
        const qm::identity_card* c = card ? &*card : nullptr;
        text += "\n\n" + qm::ui::explain_refusal(qm::diagnose_source(source, c), c);
    } catch (const std::exception&) {
        // The message alone, then.
    }
    return text;
}

// What qm_run returns; the numbers are part of the worker script's contract.
enum class run_outcome : int { written = 0, failed = 1, cancelled = 2 };

// The texts qm_ui_text gives, by number (worker.js asks for them by these numbers).
enum class page_text : int { caption = 0, cancelling = 1, success = 2, error_prefix = 3 };

} // namespace

// After a written result, the proof event carries the line that quillmoor-patch prints: the
// result's SHA-1, "vérifiée" when it is the card's translated ROM.
extern "C" int qm_run(const char* source)
{
    qm::patcher engine;
    qm::web::web_progress progress(engine);
    qm::output_fingerprint fingerprint;
    qm::web::web_sink sink(&fingerprint);
    try {
        engine.run_patch_job([&] { return std::make_unique<qm::file_source>(source); }, sink,
                             qm::byte_span(qm_embedded_archive, qm_embedded_archive_size), progress);
        // What the engine decided at the commit, whenever the cancel came.
        if (!engine.destination_written())
            return static_cast<int>(run_outcome::cancelled);
        const std::optional<qm::identity_card> card = built_in_card();
        qm::web::post_event(qm::web::event_kind::proof,
                            qm::ui::describe_result(fingerprint.result(), card ? &*card : nullptr));
    } catch (const std::exception& e) {
        qm::web::post_event(qm::web::event_kind::error, failure_text(e.what(), source));
        return static_cast<int>(run_outcome::failed);
    }
    return static_cast<int>(run_outcome::written);
}

extern "C" const char* qm_ui_text(int which)
{
    // The prefix of every error message, for failures that happen outside the engine.
    static const std::string error_prefix = qm::ui::error_text("");
    switch (static_cast<page_text>(which)) {
    case page_text::caption:
        return qm::ui::text_progress_caption;
    case page_text::cancelling:
        return qm::ui::text_cancelling;
    case page_text::success:
        return qm::ui::text_success;
    case page_text::error_prefix:
        return error_prefix.c_str();
    }
    return "";
}
