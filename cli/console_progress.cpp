#include "cli/console_progress.h"

#include "engine/patcher.h"
#include "ui/ui_texts.h"

namespace qm {

console_progress::console_progress(const patcher& engine, style s, std::FILE* out)
    : engine_(engine), style_(s), out_(out)
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
    state_.set_total(total);
}

void console_progress::section_started(std::uint32_t code, const char* path)
{
    if (auto label = ui::section_label(code, path))
        status(*label);
    else
        status(status_); // an unknown kind keeps the text it had
}

void console_progress::set_position(std::uint32_t position)
{
    auto caption = state_.position(position, engine_.cancel_requested());
    if (!caption)
        return;
    percent_ = ui::progress_state::percent_of(position, state_.total());
    if (style_ == style::lines)
        std::fprintf(out_, "%s\n", caption->c_str());
    else
        redraw();
}

void console_progress::finished()
{
    set_position(state_.total());
    close_line();
}

void console_progress::show_cancelling()
{
    status_ = ui::text_cancelling;
    if (style_ == style::lines)
        std::fprintf(out_, "%s\n", status_.c_str());
    else
        redraw();
}

void console_progress::close_line()
{
    if (line_open_) {
        std::fputc('\n', out_);
        line_open_ = false;
    }
    std::fflush(out_);
}

void console_progress::status(const std::string& text)
{
    auto shown = ui::progress_state::status(text, engine_.cancel_requested());
    if (!shown)
        return;
    bool changed = *shown != status_;
    status_ = *shown;
    if (style_ == style::lines) {
        if (changed)
            std::fprintf(out_, "%s\n", status_.c_str());
    } else {
        redraw();
    }
}

void console_progress::redraw()
{
    if (style_ != style::bar)
        return;
    constexpr int width = 30;
    int filled = static_cast<int>(percent_ > 100 ? width : percent_ * width / 100);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(width, '.');
    std::string label = status_;
    if (label.size() > 40)
        label = "..." + label.substr(label.size() - 37);
    // \r returns to the start of the line, \033[K clears what a longer label left behind.
    std::fprintf(out_, "\r[%s] %3u%%  %s\033[K", bar.c_str(), percent_, label.c_str());
    std::fflush(out_);
    line_open_ = true;
}

} // namespace qm
