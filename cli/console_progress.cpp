#include "cli/console_progress.h"

#include "engine/patcher.h"
#include "ui/ui_texts.h"

namespace qm {

console_progress::console_progress(const patcher& engine, style s, std::FILE* out)
    : engine(engine), display_style(s), out(out)
{
}

void console_progress::opening_source()
{
    status(ui::text_opening_source);
}

void console_progress::initialising()
{
    status(ui::text_initialising);
}

void console_progress::set_total(std::uint32_t total)
{
    state.set_total(total);
}

void console_progress::section_started(std::uint32_t code, const char* path)
{
    if (auto label = ui::section_label(code, path))
        status(*label);
    else
        status(status_line); // an unknown kind keeps the text it had
}

void console_progress::set_position(std::uint32_t position)
{
    auto caption = state.position(position, engine.cancel_requested());
    if (!caption)
        return;
    percent = ui::progress_state::percent_of(position, state.total());
    if (display_style == style::lines)
        std::fprintf(out, "%s\n", caption->c_str());
    else
        redraw();
}

void console_progress::finished()
{
    set_position(state.total());
    close_line();
}

void console_progress::show_cancelling()
{
    status_line = ui::text_cancelling;
    if (display_style == style::lines)
        std::fprintf(out, "%s\n", status_line.c_str());
    else
        redraw();
}

void console_progress::close_line()
{
    if (line_open) {
        std::fputc('\n', out);
        line_open = false;
    }
    std::fflush(out);
}

void console_progress::status(const std::string& text)
{
    auto shown = ui::progress_state::status(text, engine.cancel_requested());
    if (!shown)
        return;
    bool changed = *shown != status_line;
    status_line = *shown;
    if (display_style == style::lines) {
        if (changed)
            std::fprintf(out, "%s\n", status_line.c_str());
    } else {
        redraw();
    }
}

void console_progress::redraw()
{
    if (display_style != style::bar)
        return;
    constexpr int width = 30;
    int filled = static_cast<int>(percent > 100 ? width : percent * width / 100);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(width, '.');
    std::string label = status_line;
    if (label.size() > 40)
        label = "..." + label.substr(label.size() - 37);
    // \r returns to the start of the line, \033[K clears what a longer label left behind.
    std::fprintf(out, "\r[%s] %3u%%  %s\033[K", bar.c_str(), percent, label.c_str());
    std::fflush(out);
    line_open = true;
}

} // namespace qm
