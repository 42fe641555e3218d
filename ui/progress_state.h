#pragma once
// What the progress display shows: the status line, the bar position and the percentage in the
// caption, with the rules of the progress dialog (percentage rewritten only when it grows, status
// and position ignored while the engine's cancel flag is set). Shared by the Windows dialog and
// the command-line patcher; it holds no platform type.
//
// The cancel state is the engine's flag, read at each message, not a copy: the engine clears a
// request made before the archive is unpacked, and the display then moves on again.

#include <cstdint>
#include <optional>
#include <string>

namespace qm::ui {

// The status label of a section: fixed names by kind, the file's path for kind 6 (empty when
// null), "OVL9-0012" style for overlays; nullopt for an unknown kind (the status stays as it was).
std::optional<std::string> section_label(std::uint32_t code, const char* path);

// "Application du patch en cours... (42%)".
std::string progress_caption(std::uint32_t percent);

// "Une erreur s'est produite:\n\n" followed by the message.
std::string error_text(const std::string& message);

class progress_state {
public:
    void set_total(std::uint32_t total) noexcept { total_steps = total; }
    std::uint32_t total() const noexcept { return total_steps; }

    // Applies a position message; returns the new caption when it must be rewritten. The whole
    // message is ignored while `cancelled` is set (the bar does not move either).
    std::optional<std::string> position(std::uint32_t steps_done, bool cancelled);
    std::uint32_t bar_position() const noexcept { return bar; }

    // Applies a status message; returns the text to show, nullopt while `cancelled` is set.
    static std::optional<std::string> status(const std::string& text, bool cancelled);

    // 0 when the job succeeded without error and without cancel, -1 otherwise.
    static int result(bool had_error, bool cancelled) noexcept { return had_error || cancelled ? -1 : 0; }

    // floor(position / total * 100) in double precision, division first; 0 for a total of 0.
    static std::uint32_t percent_of(std::uint32_t position, std::uint32_t total) noexcept;

private:
    std::uint32_t total_steps = 0;
    std::uint32_t last_percent = 0;
    std::uint32_t bar = 0;
};

} // namespace qm::ui
