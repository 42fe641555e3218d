#include "ui/win32/about_dialog.h"

#include "ui/win32/resource_ids.h"

#include <commctrl.h>
#include <shellapi.h>

namespace qm::win32 {

about_dialog::about_dialog() : modal_dialog(QM_DIALOG_ABOUT) {}

bool about_dialog::on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result)
{
    switch (message) {
    case WM_INITDIALOG:
        centre_over_owner();
        result = TRUE;
        return true;
    case WM_COMMAND: {
        int id = LOWORD(wparam);
        // OK, and Cancel from Escape or the close box, and the other standard ids close the box.
        if (id >= IDOK && id <= IDNO) {
            end_dialog(id);
            return true;
        }
        return false;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->idFrom == QM_ID_LINKS && (header->code == NM_CLICK || header->code == NM_RETURN)) {
            on_link(lparam);
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

void about_dialog::centre_over_owner()
{
    HWND self = window();
    HWND owner = GetWindow(self, GW_OWNER);
    RECT box{};
    GetWindowRect(self, &box);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(owner ? owner : self, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT area = monitor.rcWork;

    // Over the owner when it can be seen, else over the work area.
    RECT centre_on = area;
    if (owner && IsWindowVisible(owner) && !IsIconic(owner))
        GetWindowRect(owner, &centre_on);

    LONG width = box.right - box.left;
    LONG height = box.bottom - box.top;
    LONG x = (centre_on.left + centre_on.right) / 2 - width / 2;
    LONG y = (centre_on.top + centre_on.bottom) / 2 - height / 2;
    // Kept inside the work area.
    if (x + width > area.right)
        x = area.right - width;
    if (x < area.left)
        x = area.left;
    if (y + height > area.bottom)
        y = area.bottom - height;
    if (y < area.top)
        y = area.top;
    SetWindowPos(self, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void about_dialog::on_link(LPARAM notification)
{
    const auto* link = reinterpret_cast<const NMLINK*>(notification);
    // A failure to open the address is not reported.
    ShellExecuteW(nullptr, L"open", link->item.szUrl, nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace qm::win32
