#pragma once
// The progress display of the command-line patcher: the progress dialog's status texts and
// percentage rule on stderr, as a live one-line bar on a terminal, one line per change otherwise.

#include "engine/patch_listener.h"
#include "ui/progress_state.h"

#include <cstdio>
#include <string>

namespace qm {

class patcher;

class console_progress : public patch_listener {
public:
    enum class style { bar, lines, quiet };
    console_progress(const patcher& engine, style s, std::FILE* out = stderr);

    void opening_source() override;
    void source_opened() override {}
    void initialising() override;
    void set_total(std::uint32_t total) override;
    void initialised() override {}
    void section_started(std::uint32_t code, const char* path) override;
    void set_position(std::uint32_t position) override;
    void finished() override;

    // Shows "Annulation..." at once, as the dialog does when its button is pressed.
    void show_cancelling();
    // Ends the bar's line so that later messages start on a fresh one.
    void close_line();

private:
    void status(const std::string& text);
    void redraw();

    const patcher& engine;
    style display_style;
    std::FILE* out;
    ui::progress_state state;
    std::string status_line;
    std::uint32_t percent = 0;
    bool line_open = false;
};

} // namespace qm
