#pragma once
// The About box: the program's icon, name and version, the authors and two web links.

#include "ui/win32/modal_dialog.h"

namespace qm::win32 {

class about_dialog : public modal_dialog {
public:
    about_dialog();

private:
    bool on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;
    void centre_over_owner();
    void on_link(LPARAM notification);
};

} // namespace qm::win32
