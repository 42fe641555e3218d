#include "ui/win32/progress_dialog.h"

#include "ui/ui_texts.h"
#include "ui/win32/embedded_archive.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/wide_text.h"

#include <commctrl.h>

#include <exception>
#include <memory>

namespace qm::win32 {

progress_dialog::progress_dialog(std::wstring source, std::wstring destination)
    : modal_dialog(QM_DIALOG_PROGRESS), source_path(std::move(source)),
      destination_path(std::move(destination))
{
}

progress_dialog::~progress_dialog()
{
    // The dialog only ends after the worker has; this covers a dialog torn down some other way.
    if (worker) {
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
    }
}

bool progress_dialog::on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result)
{
    switch (message) {
    case WM_INITDIALOG:
        on_init();
        result = TRUE;
        return true;
    case WM_COMMAND:
        // Only "Annuler": Escape (command 2) does nothing here.
        if (LOWORD(wparam) == QM_ID_CANCEL) {
            on_cancel();
            return true;
        }
        return false;
    case WM_CLOSE:
        on_cancel(); // the dialog stays open until the job has ended
        return true;
    case msg_set_total:
        progress.set_total(static_cast<std::uint32_t>(lparam));
        SendMessageW(progress_bar, PBM_SETRANGE32, 0,
                     static_cast<LPARAM>(static_cast<std::uint32_t>(lparam)));
        return true;
    case msg_status:
        on_status();
        return true;
    case msg_position:
        on_position(static_cast<std::uint32_t>(lparam));
        return true;
    case msg_error:
        on_error(reinterpret_cast<std::wstring*>(lparam));
        return true;
    case msg_done:
        on_done();
        return true;
    default:
        return false;
    }
}

void progress_dialog::on_init()
{
    SetDlgItemTextW(window(), QM_ID_STATUS, status_text.c_str());
    progress_bar = item(QM_ID_PROGRESS);
    cancel_button = item(QM_ID_CANCEL);
    error_text.clear();
    // Shown at once: the dialog manager would wait for an idle queue, which a job keeps busy.
    ShowWindow(window(), SW_SHOW);
    worker = CreateThread(nullptr, 0, worker_entry, this, 0, nullptr);
    if (!worker) {
        // Without a worker no message would ever end the dialog: report it and end.
        post(msg_error, reinterpret_cast<LPARAM>(
                            new std::wstring(from_ansi(ui::error_text("cannot start the worker thread")))));
        post(msg_done, 0);
    }
}

void progress_dialog::on_cancel()
{
    EnableWindow(cancel_button, FALSE);
    // Once the job has written the destination, a cancel can no longer undo it: the run ends as
    // the success it is, and the status line goes on showing the job's progress.
    if (!engine.request_cancel())
        return;
    status_text = from_utf8(ui::text_cancelling);
    SetDlgItemTextW(window(), QM_ID_STATUS, status_text.c_str());
}

void progress_dialog::on_status()
{
    std::optional<std::wstring> text;
    {
        std::lock_guard<std::mutex> hold(latest_lock);
        text = std::move(latest.status);
        latest.status.reset();
        latest.status_posted = false;
    }
    // The worker's text replaces the current one even while cancelled; it is only shown when the
    // engine's cancel flag is clear (the flag is read at every message: the engine may clear it).
    if (text)
        status_text = std::move(*text);
    if (!engine.cancel_requested())
        SetDlgItemTextW(window(), QM_ID_STATUS, status_text.c_str());
    let_input_through();
}

void progress_dialog::on_position(std::uint32_t posted)
{
    std::uint32_t steps_done;
    {
        std::lock_guard<std::mutex> hold(latest_lock);
        steps_done = latest.position;
        latest.position_posted = false;
    }
    // Position 0 (the job's first) is shown as such, since it always rewrites the caption.
    if (posted == 0)
        show_position(0);
    if (steps_done != 0)
        show_position(steps_done);
    let_input_through();
}

void progress_dialog::show_position(std::uint32_t steps_done)
{
    if (engine.cancel_requested())
        return;
    auto caption = progress.position(steps_done, false);
    SendMessageW(progress_bar, PBM_SETPOS, static_cast<WPARAM>(steps_done), 0);
    if (caption)
        SetWindowTextW(window(), from_utf8(*caption).c_str());
}

// Posted messages are taken before input and painting: between two progress messages, let the
// clicks, keys and repaints waiting for this thread through, so "Annuler" answers during a busy
// job. Not nested: a handler reached from here does not pump again.
void progress_dialog::let_input_through()
{
    if (pumping_input)
        return;
    pumping_input = true;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT)) {
        if (!IsDialogMessageW(window(), &m)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
    pumping_input = false;
}

void progress_dialog::on_error(std::wstring* text)
{
    std::unique_ptr<std::wstring> owned(text);
    error_text = owned ? std::move(*owned) : std::wstring();
    // The box runs its own message loop, which also dispatches the worker's msg_done: the dialog
    // must not end under the open box, so the end waits until the box is dismissed.
    showing_error = true;
    MessageBoxW(window(), error_text.c_str(), from_utf8(ui::text_error_title).c_str(), MB_OK | MB_ICONERROR);
    showing_error = false;
    if (done_pending)
        on_done();
}

void progress_dialog::on_done()
{
    if (showing_error) {
        done_pending = true;
        return;
    }
    done_pending = false;
    if (worker) {
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
        worker = nullptr;
    }
    // The engine's decision at its commit, not the button: a click after the commit cancels nothing.
    end_dialog(ui::progress_state::result(!error_text.empty(), !engine.destination_written()));
}

DWORD WINAPI progress_dialog::worker_entry(void* self)
{
    static_cast<progress_dialog*>(self)->worker_main();
    return 0;
}

void progress_dialog::worker_main()
{
    std::span<const std::uint8_t> archive = embedded_patch_archive(module());
    std::string failure;
    bool failed = false;
    try {
        engine.run_patch_job(source_path, destination_path, archive, *this);
    } catch (const std::exception& e) {
        failed = true;
        failure = e.what();
    } catch (...) {
        failed = true;
        failure = "unknown error";
    }
    if (failed)
        post(msg_error, reinterpret_cast<LPARAM>(new std::wstring(from_ansi(ui::error_text(failure)))));
    post(msg_done, 0);
}

// A message refused by a full queue is posted again until the queue takes it: the worker waits
// for the user interface instead of losing the end of the job (which would leave the dialog
// open for good) or a text it handed over. Only a window that no longer exists drops it.
void progress_dialog::post(UINT message, LPARAM lparam)
{
    while (!PostMessageW(window(), message, 0, lparam)) {
        if (!IsWindow(window())) {
            if (message == msg_error)
                delete reinterpret_cast<std::wstring*>(lparam);
            return;
        }
        Sleep(10);
    }
}

// A status text or position replaces the one still waiting; a message is posted only when none
// of its kind is in the queue.
void progress_dialog::post_status(std::optional<std::wstring> text)
{
    bool post_now;
    {
        std::lock_guard<std::mutex> hold(latest_lock);
        if (text)
            latest.status = std::move(text);
        post_now = !latest.status_posted;
        latest.status_posted = true;
    }
    if (post_now)
        post(msg_status, 0);
}

void progress_dialog::opening_source()
{
    post_status(from_utf8(ui::text_opening_source));
}

void progress_dialog::source_opened() {}

void progress_dialog::initialising()
{
    post_status(from_utf8(ui::text_initialising));
}

void progress_dialog::set_total(std::uint32_t total)
{
    worker_total = total;
    post(msg_set_total, static_cast<LPARAM>(total));
}

void progress_dialog::initialised() {}

void progress_dialog::section_started(std::uint32_t code, const char* path)
{
    // An unknown kind keeps the current text, but the message is posted all the same.
    if (auto label = ui::section_label(code, path))
        post_status(from_ansi(*label));
    else
        post_status(std::nullopt);
}

void progress_dialog::set_position(std::uint32_t position)
{
    bool post_now;
    {
        std::lock_guard<std::mutex> hold(latest_lock);
        latest.position = position;
        post_now = !latest.position_posted || position == 0;
        latest.position_posted = true;
    }
    if (post_now)
        post(msg_position, static_cast<LPARAM>(position));
}

void progress_dialog::finished()
{
    set_position(worker_total);
}

} // namespace qm::win32
