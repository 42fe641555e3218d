#pragma once
// A small modal-dialog layer: runs a dialog template of the program's own file and hands every
// message to the object that runs it. Subclasses route the messages to their handlers.

#include <windows.h>

namespace qm::win32 {

class modal_dialog {
public:
    explicit modal_dialog(int template_id) noexcept : template_id(template_id) {}
    virtual ~modal_dialog() = default;
    modal_dialog(const modal_dialog&) = delete;
    modal_dialog& operator=(const modal_dialog&) = delete;

    // The module whose resources hold the templates (the program's instance; set once at start).
    static void set_module(HINSTANCE instance) noexcept;
    static HINSTANCE module() noexcept;

    // Runs the dialog until a handler ends it; returns the value given to end_dialog, or -1 when
    // the dialog cannot be created.
    INT_PTR run_modal(HWND owner);

    HWND window() const noexcept { return hwnd; }

protected:
    // A message for this dialog. Returns true when handled; `result` is then the dialog
    // procedure's answer (for WM_INITDIALOG: TRUE to let the system place the focus).
    virtual bool on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) = 0;

    void end_dialog(INT_PTR result) noexcept { EndDialog(hwnd, result); }
    HWND item(int id) const noexcept { return GetDlgItem(hwnd, id); }

private:
    static INT_PTR CALLBACK dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

    int template_id;
    HWND hwnd = nullptr;
};

} // namespace qm::win32
