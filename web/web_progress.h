#pragma once
// The browser edition's progress listener: the progress dialog's status texts, section labels and
// percentage rule, handed to the page's worker script as events. Between units of work it asks
// the worker script whether the page asked to cancel, and passes the request on to the engine.

#include "engine/patch_listener.h"
#include "ui/progress_state.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace qm {

class patcher;

namespace web {

// The events posted to the worker script; their numbers are part of its contract (worker.js).
enum class event_kind : int {
    status = 0,   // text: the status line
    total = 1,    // first number: the number of steps, the progress bar's maximum
    position = 2, // first number: steps done; text: the new caption, or empty to keep it
    error = 3,    // text: the French error message of a failed run
    proof = 4,    // text: the written ROM's SHA-1, and whether it is the expected translation
    timing = 5,   // text: the job's phases and their seconds, when the worker script asked for them
};

// Hands an event to the worker script (through the engine's JavaScript library).
void post_event(event_kind kind, const std::string& text, std::uint32_t number = 0);

class web_progress : public patch_listener {
public:
    explicit web_progress(patcher& engine);

    void opening_source() override;
    void source_opened() override {}
    void initialising() override;
    void set_total(std::uint32_t total) override;
    void initialised() override {}
    void section_started(std::uint32_t code, const char* path) override;
    void set_position(std::uint32_t position) override;
    void finished() override;

private:
    void status(const std::string& text);
    // Asks the worker script about a cancel at most every poll_interval, or at once when `now`.
    void poll_cancel(bool now);

    patcher& engine;
    ui::progress_state state;
    std::string status_line;
    std::chrono::steady_clock::time_point last_poll;
};

} // namespace web
} // namespace qm
