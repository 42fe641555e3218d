#pragma once
// The program's window: source and destination fields with their browse buttons, "Appliquer"
// (checks the paths, then runs the patch under the progress dialog) and "A propos". A file dropped
// on the window becomes the source, as if typed.

#include "ui/win32/banner_image.h"
#include "ui/win32/modal_dialog.h"

#include <shellapi.h>

#include <string>

namespace qm::win32 {

class main_dialog : public modal_dialog {
public:
    // Decodes the banner; `source` fills the source field at start (a ROM dropped on the icon).
    explicit main_dialog(std::wstring source = {});

private:
    bool on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;
    void on_init();
    void on_destroy();
    void on_field_change(int id);
    void on_browse(int id);
    void on_apply();
    void on_about();
    void on_drop(HDROP drop);
    std::wstring read_field(int id) const;
    void show_error(const std::wstring& text);

    std::wstring source_path;
    std::wstring destination_path;
    HWND apply_button = nullptr;
    banner_image banner;
    HICON large_icon = nullptr;
    HICON small_icon = nullptr;
};

} // namespace qm::win32
