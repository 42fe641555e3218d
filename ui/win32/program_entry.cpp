// The program: one modal dialog; its result (1 or 2) is the exit code. A path on the command line,
// as Windows gives it when a ROM is dropped on the program's icon, fills the source field.

#include "ui/win32/main_dialog.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

namespace {

// The first argument after the program's own path, or nothing.
std::wstring source_from_command_line()
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring source = arguments && count > 1 ? arguments[1] : L"";
    LocalFree(arguments);
    return source;
}

} // namespace

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
        qm::win32::main_dialog dialog(source_from_command_line());
        result = dialog.run_modal(GetActiveWindow());
    }
    qm::win32::modal_dialog::set_module(nullptr);

    if (SUCCEEDED(com))
        CoUninitialize();
    return static_cast<int>(result);
}
