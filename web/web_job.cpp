// The browser edition's entry points, called by the worker script (worker.js) and by the node
// test of the engine: one patch job from a source path to a destination path in the module's
// file system, and the progress dialog's texts that the page shows itself.

#include "engine/patcher.h"
#include "ui/progress_state.h"
#include "ui/ui_texts.h"
#include "web/referring_patcher.h"
#include "web/web_progress.h"

#include <cstdint>
#include <exception>
#include <string>

// The packed patch archive, compiled in by the build (cmake/embed_file.cmake).
extern "C" const unsigned char qm_embedded_archive[];
extern "C" const unsigned long qm_embedded_archive_size;

namespace {

// What qm_run returns; the numbers are part of the worker script's contract.
enum class run_outcome : int { written = 0, failed = 1, cancelled = 2 };

// The texts qm_ui_text gives, by number (worker.js asks for them by these numbers).
enum class page_text : int { caption = 0, cancelling = 1, success = 2, error_prefix = 3 };

} // namespace

// With `refer_unchanged`, the sections that pass through are left unwritten and their ranges
// handed to the caller (referring_patcher).
extern "C" int qm_run(const char* source, const char* destination, int refer_unchanged)
{
    qm::web::referring_patcher engine(refer_unchanged != 0);
    qm::web::web_progress progress(engine);
    try {
        engine.run_patch_job(source, destination, qm_embedded_archive,
                             static_cast<std::uint32_t>(qm_embedded_archive_size), progress);
    } catch (const std::exception& e) {
        qm::web::post_event(qm::web::event_kind::error, qm::ui::error_text(e.what()));
        return static_cast<int>(run_outcome::failed);
    }
    // The engine keeps the ROM only when no cancel was requested by the end of the job.
    return static_cast<int>(engine.cancel_requested() ? run_outcome::cancelled : run_outcome::written);
}

extern "C" const char* qm_ui_text(int which)
{
    // The prefix of every error message, for failures that happen outside the engine.
    static const std::string error_prefix = qm::ui::error_text("");
    switch (static_cast<page_text>(which)) {
    case page_text::caption: return qm::ui::text_progress_caption;
    case page_text::cancelling: return qm::ui::text_cancelling;
    case page_text::success: return qm::ui::text_success;
    case page_text::error_prefix: return error_prefix.c_str();
    }
    return "";
}
