// The browser edition's entry points, called by the worker script (worker.js) and by the node
// test of the engine: one patch job from a source path in the module's file system to the
// worker script, piece by piece (web_sink), with the proof of the result or a failure explained
// with the patch's identity card, as by the command-line patcher; and the progress dialog's texts
// that the page shows itself.

#include "common/phase_timer.h"
#include "common/work_pool.h"
#include "engine/identity_card.h"
#include "engine/output_fingerprint.h"
#include "engine/patcher.h"
#include "engine/source_diagnosis.h"
#include "ui/explanations.h"
#include "ui/progress_state.h"
#include "ui/ui_texts.h"
#include "web/web_progress.h"
#include "web/web_sink.h"
#include "web/web_source.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
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

// The fields qm_card_text gives, by number (worker.js asks for them by these numbers).
enum class card_field : int { release = 0, size = 1, crc32 = 2, sha1 = 3 };

// The texts qm_ui_text gives, by number (worker.js asks for them by these numbers).
enum class page_text : int { caption = 0, cancelling = 1, success = 2, error_prefix = 3 };

// Where the job spent its time, for the benchmark: one line per phase, its name, then seconds
// on the job's thread and on the threads that help it (wall clock: the browser has no clock of
// processor time).
std::string phase_lines(const qm::phase_timer& timer)
{
    std::string lines;
    for (std::size_t i = 0; i < qm::job_phase_count; ++i) {
        const auto phase = static_cast<qm::job_phase>(i);
        char line[96];
        std::snprintf(line, sizeof line, "%s\t%.4f\t%.4f\n", qm::job_phase_name(phase),
                      std::chrono::duration<double>(timer.total(phase)).count(),
                      std::chrono::duration<double>(timer.helper_total(phase)).count());
        lines += line;
    }
    return lines;
}

// One job on the File of `size` bytes, which the module's file system also shows at `source` for
// the explanation of a failure; the proof event follows a written result.
run_outcome run_job(const char* source, double size, qm::phase_timer* timer)
{
    qm::patcher engine;
    engine.time_phases(timer);
    qm::web::web_progress progress(engine);
    qm::output_fingerprint fingerprint;
    qm::web::web_sink sink(&fingerprint);
    try {
        engine.run_patch_job(
            [&] { return std::make_unique<qm::web::web_source>(static_cast<std::uint64_t>(size)); }, sink,
            qm::byte_span(qm_embedded_archive, qm_embedded_archive_size), progress);
        // What the engine decided at the commit, whenever the cancel came.
        if (!engine.destination_written())
            return run_outcome::cancelled;
        const std::optional<qm::identity_card> card = built_in_card();
        qm::web::post_event(qm::web::event_kind::proof,
                            qm::ui::describe_result(fingerprint.result(), card ? &*card : nullptr));
    } catch (const std::exception& e) {
        qm::web::post_event(qm::web::event_kind::error, failure_text(e.what(), source));
        return run_outcome::failed;
    }
    return run_outcome::written;
}

} // namespace

// After a written result, the proof event carries the line that quillmoor-patch prints: the
// result's SHA-1, "vérifiée" when it is the card's translated ROM. With `timed`, a timing event
// follows the job, whatever its outcome, once every thread of the job has ended.
extern "C" int qm_run(const char* source, double size, int timed)
{
    qm::phase_timer timer;
    const run_outcome outcome = run_job(source, size, timed ? &timer : nullptr);
    if (timed)
        qm::web::post_event(qm::web::event_kind::timing, phase_lines(timer));
    return static_cast<int>(outcome);
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

// The ROM the patch needs, from its identity card, for the page to show before any file is
// chosen: the game and release in French, the size in bytes (decimal digits), CRC-32 (8
// uppercase hexadecimal digits) and SHA-1. Empty texts when the patch came without a card.
extern "C" const char* qm_card_text(int which)
{
    static const std::optional<qm::identity_card> card = built_in_card();
    static std::string text;
    text.clear();
    if (!card)
        return "";
    const qm::rom_fingerprint& original = card->original;
    switch (static_cast<card_field>(which)) {
    case card_field::release:
        text = qm::ui::game_name(original);
        break;
    case card_field::size:
        text = std::to_string(original.size);
        break;
    case card_field::crc32: {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(original.crc32));
        text = digits;
        break;
    }
    case card_field::sha1:
        text = original.sha1;
        break;
    }
    return text.c_str();
}

// The threads a job runs on: its own, and the CPK workers beside it (1 in a build without threads).
extern "C" int qm_threads()
{
    return 1 + static_cast<int>(qm::work_pool::hardware_workers());
}
