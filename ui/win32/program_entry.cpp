// The program: one modal dialog; its result (1 or 2) is the exit code.

#include "ui/win32/main_dialog.h"

#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    // Standard classes, the link control, the native font control and the progress bar.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_LINK_CLASS | ICC_NATIVEFNTCTL_CLASS | ICC_PROGRESS_CLASS;
    static_assert((ICC_STANDARD_CLASSES | ICC_LINK_CLASS | ICC_NATIVEFNTCTL_CLASS | ICC_PROGRESS_CLASS) ==
                  0xE020);
    InitCommonControlsEx(&controls);

    qm::win32::modal_dialog::set_module(instance);
    INT_PTR result;
    {
        qm::win32::main_dialog dialog;
        result = dialog.run_modal(GetActiveWindow());
    }
    qm::win32::modal_dialog::set_module(nullptr);

    if (SUCCEEDED(com))
        CoUninitialize();
    return static_cast<int>(result);
}
