#include "ui/progress_state.h"

#include "rom/rom_visitor.h"
#include "ui/ui_texts.h"

#include <cstdio>

namespace qm::ui {

std::optional<std::string> section_label(std::uint32_t code, const char* path)
{
    char buf[32];
    switch (section_kind_of(code)) {
    case padding:
        return "Padding";
    case header:
        return "Header";
    case arm9:
        return "ARM9 binary";
    case arm7:
        return "ARM7 binary";
    case fnt:
        return "FNT";
    case fat:
        return "FAT";
    case file:
        return path ? std::string(path) : std::string();
    case arm9_ovt:
        return "ARM9 OVT";
    case arm7_ovt:
        return "ARM7 OVT";
    case banner:
        return "Banner";
    case arm9_overlay:
        std::snprintf(buf, sizeof buf, "OVL%d-%04u", 9, static_cast<unsigned>(section_id_of(code)));
        return buf;
    case arm7_overlay:
        std::snprintf(buf, sizeof buf, "OVL%d-%04u", 7, static_cast<unsigned>(section_id_of(code)));
        return buf;
    default:
        return std::nullopt;
    }
}

std::string progress_caption(std::uint32_t percent)
{
    return std::string(text_progress_caption) + " (" + std::to_string(percent) + "%)";
}

std::string error_text(const std::string& message)
{
    return "Une erreur s'est produite:\n\n" + message;
}

std::uint32_t progress_state::percent_of(std::uint32_t position, std::uint32_t total) noexcept
{
    // A total of 0 would divide by zero; nothing is known then, so the display shows 0 %.
    if (total == 0)
        return 0;
    // Division first, in double precision: with a total of 100, position 29 gives 28.999... -> 28.
    double p = static_cast<double>(position) / static_cast<double>(total) * 100.0;
    if (!(p >= 0.0))
        return 0;
    if (p >= 4294967295.0)
        return 4294967295u;
    return static_cast<std::uint32_t>(p);
}

std::optional<std::string> progress_state::position(std::uint32_t steps_done, bool cancelled)
{
    if (cancelled)
        return std::nullopt;
    bar = steps_done;
    std::uint32_t p = percent_of(steps_done, total_steps);
    std::optional<std::string> caption;
    if (steps_done == 0 || p > last_percent)
        caption = progress_caption(p);
    last_percent = p;
    return caption;
}

std::optional<std::string> progress_state::status(const std::string& text, bool cancelled)
{
    if (cancelled)
        return std::nullopt;
    return text;
}

} // namespace qm::ui
