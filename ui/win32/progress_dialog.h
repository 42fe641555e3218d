#pragma once
// Runs one patch job on a worker thread and shows its progress: status line, bar, percentage in
// the caption, cancel, and the job's error. Ends with 0 when the job succeeded without a cancel
// request, -1 otherwise.

#include "engine/patch_listener.h"
#include "engine/patcher.h"
#include "ui/progress_state.h"
#include "ui/win32/modal_dialog.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace qm::win32 {

class progress_dialog : public modal_dialog, public patch_listener {
public:
    // Private messages posted by the worker to the dialog, wParam 0. Status and position are
    // coalesced: while one of them waits in the queue the worker only updates the value it will
    // show, so a fast job cannot fill the queue and starve the user's input (posted messages are
    // taken before input).
    static constexpr UINT msg_set_total = WM_USER;    // lParam: total number of steps
    static constexpr UINT msg_status = WM_USER + 1;   // lParam: 0; the text waits in `latest`
    static constexpr UINT msg_position = WM_USER + 2; // lParam: steps done (the latest is shown)
    static constexpr UINT msg_error = WM_USER + 3;    // lParam: the error text (owned)
    static constexpr UINT msg_done = WM_USER + 4;     // lParam: 0

    progress_dialog(std::wstring source_path, std::wstring destination_path);
    ~progress_dialog() override;

    // patch_listener, called on the worker thread: each call becomes a posted message.
    void opening_source() override;
    void source_opened() override;
    void initialising() override;
    void set_total(std::uint32_t total) override;
    void initialised() override;
    void section_started(std::uint32_t code, const char* path) override;
    void set_position(std::uint32_t position) override;
    void finished() override;

private:
    bool on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;
    void on_init();
    void on_cancel();
    void on_status();
    void on_position(std::uint32_t posted);
    void show_position(std::uint32_t steps_done);
    void let_input_through();
    void on_error(std::wstring* text);
    void on_done();

    static DWORD WINAPI worker_entry(void* self);
    void worker_main();
    void post_status(std::optional<std::wstring> text);
    void post(UINT message, LPARAM lparam);

    // What the worker last reported and the user interface has not taken yet.
    struct pending {
        std::optional<std::wstring> status; // a new status text
        std::uint32_t position = 0;
        bool status_posted = false;   // a msg_status waits in the queue
        bool position_posted = false; // a msg_position waits in the queue
    };

    HANDLE worker = nullptr;
    HWND progress_bar = nullptr;
    HWND cancel_button = nullptr;
    std::wstring status_text; // user interface thread only
    std::wstring error_text;  // user interface thread only; filled by msg_error
    std::wstring source_path;
    std::wstring destination_path;
    patcher engine;                 // its cancel flag records the cancel request
    ui::progress_state progress;    // bar and caption, on the user interface thread
    std::uint32_t worker_total = 0; // the total as the worker reported it, for `finished`
    bool showing_error = false;     // an error box is open: msg_done waits for it
    bool done_pending = false;
    bool pumping_input = false;
    std::mutex latest_lock;
    pending latest; // guarded by latest_lock
};

} // namespace qm::win32
