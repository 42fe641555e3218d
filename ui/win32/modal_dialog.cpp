#include "ui/win32/modal_dialog.h"

namespace qm::win32 {

namespace {
HINSTANCE program_module = nullptr;
}

void modal_dialog::set_module(HINSTANCE instance) noexcept
{
    program_module = instance;
}

HINSTANCE modal_dialog::module() noexcept
{
    return program_module ? program_module : GetModuleHandleW(nullptr);
}

INT_PTR modal_dialog::run_modal(HWND owner)
{
    INT_PTR result = DialogBoxParamW(module(), MAKEINTRESOURCEW(template_id), owner, dialog_proc,
                                     reinterpret_cast<LPARAM>(this));
    hwnd = nullptr;
    return result;
}

INT_PTR CALLBACK modal_dialog::dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    modal_dialog* self;
    if (message == WM_INITDIALOG) {
        // The object comes with WM_INITDIALOG; the few messages sent before it (WM_SETFONT and
        // the like) keep the default handling.
        self = reinterpret_cast<modal_dialog*>(lparam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
        self->hwnd = hwnd;
    } else {
        self = reinterpret_cast<modal_dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
        if (!self)
            return FALSE;
    }
    INT_PTR result = FALSE;
    if (!self->on_message(message, wparam, lparam, result))
        return FALSE;
    return result;
}

} // namespace qm::win32
