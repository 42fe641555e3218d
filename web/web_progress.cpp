#include "web/web_progress.h"

#include "engine/patcher.h"
#include "rom/rom_visitor.h"
#include "ui/ui_texts.h"

extern "C" {
// Both are defined in engine_library.js. qm_cancel_poll returns 1 when the page asked to cancel
// since the last call; where the browser can suspend WebAssembly, the call lets the worker's
// event loop turn once, so that the page's message can arrive while the job runs.
void qm_post_event(int kind, const char* text, std::uint32_t number);
int qm_cancel_poll(void);
}

namespace qm::web {

namespace {

// Each poll may wait for one turn of the worker's event loop: often enough for a cancel to be
// felt at once, rarely enough to cost nothing measurable.
constexpr std::chrono::milliseconds poll_interval{100};

} // namespace

void post_event(event_kind kind, const std::string& text, std::uint32_t number)
{
    qm_post_event(static_cast<int>(kind), text.c_str(), number);
}

web_progress::web_progress(patcher& engine) : engine(engine), last_poll(std::chrono::steady_clock::now()) {}

void web_progress::opening_source()
{
    status(ui::text_opening_source);
}

void web_progress::initialising()
{
    status(ui::text_initialising);
}

void web_progress::set_total(std::uint32_t total)
{
    // Called while the archive is unpacked, which forgets any cancel asked for until then: as in
    // the progress dialog, a cancel pressed while the ROM is opened or the archive unpacked is
    // taken here, and forgotten with the rest.
    poll_cancel(true);
    state.set_total(total);
    post_event(event_kind::total, {}, total);
}

void web_progress::section_started(std::uint32_t code, const char* path)
{
    // The padding comes last, right before the engine decides whether to keep the ROM: a cancel
    // made until then must reach it.
    poll_cancel(section_kind_of(code) == section_kind::padding);
    if (auto label = ui::section_label(code, path))
        status(*label);
    else
        status(status_line); // an unknown kind keeps the text it had
}

void web_progress::set_position(std::uint32_t position)
{
    poll_cancel(false);
    if (engine.cancel_requested())
        return; // the bar and the caption stand still, as in the dialog
    auto caption = state.position(position, false);
    post_event(event_kind::position, caption.value_or(std::string()), state.bar_position());
}

void web_progress::finished()
{
    set_position(state.total());
}

void web_progress::status(const std::string& text)
{
    if (auto shown = ui::progress_state::status(text, engine.cancel_requested())) {
        status_line = *shown;
        post_event(event_kind::status, status_line);
    }
}

void web_progress::poll_cancel(bool now)
{
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - last_poll < poll_interval)
        return;
    last_poll = time;
    if (qm_cancel_poll() != 0)
        engine.request_cancel();
}

} // namespace qm::web
