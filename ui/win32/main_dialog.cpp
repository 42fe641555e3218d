#include "ui/win32/main_dialog.h"

#include "ui/path_checks.h"
#include "ui/ui_texts.h"
#include "ui/win32/about_dialog.h"
#include "ui/win32/progress_dialog.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/wide_text.h"

#include <commdlg.h>

#include <utility>

namespace qm::win32 {

main_dialog::main_dialog(std::wstring source)
    : modal_dialog(QM_DIALOG_MAIN), source_path(std::move(source)),
      banner(module(), QM_TYPE_BANNER, QM_NAME_BANNER)
{
}

bool main_dialog::on_message(UINT message, WPARAM wparam, LPARAM, INT_PTR& result)
{
    switch (message) {
    case WM_INITDIALOG:
        on_init();
        result = TRUE; // focus on the first tab stop, the source field
        return true;
    case WM_DESTROY:
        on_destroy();
        return false;
    case WM_DROPFILES:
        on_drop(reinterpret_cast<HDROP>(wparam));
        result = TRUE;
        return true;
    case WM_COMMAND: {
        int id = LOWORD(wparam);
        int code = HIWORD(wparam);
        switch (id) {
        case QM_ID_SOURCE:
        case QM_ID_DESTINATION:
            if (code != EN_CHANGE)
                return false;
            on_field_change(id);
            return true;
        case QM_ID_BROWSE_SOURCE:
        case QM_ID_BROWSE_DESTINATION:
            on_browse(id);
            return true;
        case QM_ID_APPLY:
            on_apply();
            return true;
        case QM_ID_ABOUT:
            on_about();
            return true;
        case IDOK:
        case IDCANCEL:
            end_dialog(id);
            return true;
        default:
            return false;
        }
    }
    default:
        return false;
    }
}

void main_dialog::on_init()
{
    HWND self = window();
    large_icon = static_cast<HICON>(LoadImageW(module(), MAKEINTRESOURCEW(QM_ICON_MAIN), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                               LR_DEFAULTCOLOR));
    SendMessageW(self, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large_icon));
    small_icon = static_cast<HICON>(LoadImageW(module(), MAKEINTRESOURCEW(QM_ICON_MAIN), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                               LR_DEFAULTCOLOR));
    SendMessageW(self, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));

    SendDlgItemMessageW(self, QM_ID_BANNER, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(banner.bitmap()));

    SetDlgItemTextW(self, QM_ID_SOURCE, source_path.c_str());
    SetDlgItemTextW(self, QM_ID_DESTINATION, destination_path.c_str());
    apply_button = item(QM_ID_APPLY);
    DragAcceptFiles(self, TRUE);
}

void main_dialog::on_destroy()
{
    // A bitmap with alpha is copied by the control; the copy comes back here and is ours to free.
    HWND self = window();
    auto shown =
        reinterpret_cast<HBITMAP>(SendDlgItemMessageW(self, QM_ID_BANNER, STM_SETIMAGE, IMAGE_BITMAP, 0));
    if (shown && shown != banner.bitmap())
        DeleteObject(shown);
    for (HICON icon : {large_icon, small_icon})
        if (icon)
            DestroyIcon(icon);
    large_icon = small_icon = nullptr;
}

std::wstring main_dialog::read_field(int id) const
{
    HWND field = item(id);
    int length = GetWindowTextLengthW(field);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(field, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

void main_dialog::on_field_change(int id)
{
    (id == QM_ID_SOURCE ? source_path : destination_path) = read_field(id);
    if (apply_button)
        EnableWindow(apply_button, !source_path.empty() && !destination_path.empty());
}

void main_dialog::on_browse(int id)
{
    bool source = id == QM_ID_BROWSE_SOURCE;
    std::wstring title = from_utf8(source ? "Veuillez sélectionner la ROM du jeu original"
                                          : "Veuillez choisir un fichier de destination");
    static constexpr wchar_t filter[] = L"ROM Nintendo DS (*.nds)\0*.nds\0Tous les fichiers (*.*)\0*.*\0";
    wchar_t file[MAX_PATH] = L"";

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window();
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = L"nds";
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY;
    if (source)
        dialog.Flags |= OFN_FILEMUSTEXIST;
    else
        dialog.Flags |= OFN_OVERWRITEPROMPT | OFN_NOREADONLYRETURN;

    if (!(source ? GetOpenFileNameW(&dialog) : GetSaveFileNameW(&dialog)))
        return;
    std::wstring& member = source ? source_path : destination_path;
    member = file;
    SetDlgItemTextW(window(), source ? QM_ID_SOURCE : QM_ID_DESTINATION, member.c_str());
}

void main_dialog::on_drop(HDROP drop)
{
    // The first file dropped is the source; written into the field, it raises Field change as
    // typing would. Several files dropped at once: the others are ignored.
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    std::wstring path(static_cast<std::size_t>(length) + 1, L'\0');
    if (length > 0 && DragQueryFileW(drop, 0, path.data(), length + 1) == length) {
        path.resize(length);
        SetDlgItemTextW(window(), QM_ID_SOURCE, path.c_str());
    }
    DragFinish(drop);
}

void main_dialog::show_error(const std::wstring& text)
{
    MessageBoxW(window(), text.c_str(), from_utf8(ui::text_error_title).c_str(), MB_OK | MB_ICONERROR);
}

void main_dialog::on_apply()
{
    source_path = read_field(QM_ID_SOURCE);
    destination_path = read_field(QM_ID_DESTINATION);
    // The file-system queries work on the "\\?\" forms; the job gets the paths as entered.
    if (auto error = ui::first_path_error(ui::query_path_facts(source_path, destination_path))) {
        show_error(from_utf8(*error));
        return;
    }
    INT_PTR result;
    {
        progress_dialog run(source_path, destination_path);
        result = run.run_modal(GetActiveWindow());
    }
    if (result == 0)
        MessageBoxW(window(), from_utf8(ui::text_success).c_str(), from_utf8(ui::text_success_title).c_str(),
                    MB_OK | MB_ICONINFORMATION);
}

void main_dialog::on_about()
{
    about_dialog about;
    about.run_modal(GetActiveWindow());
}

} // namespace qm::win32
