#include "ui/win32/windows_paths.h"

#include "ui/path_checks.h"

#include <windows.h>

namespace qm::win32 {

std::wstring long_path(const std::wstring& path)
{
    return L"\\\\?\\" + path;
}

namespace {

HANDLE open_for_identity(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

bool same_file(const std::wstring& a, const std::wstring& b)
{
    HANDLE ha = open_for_identity(a);
    if (ha == INVALID_HANDLE_VALUE)
        return false;
    HANDLE hb = open_for_identity(b);
    if (hb == INVALID_HANDLE_VALUE) {
        CloseHandle(ha);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    bool same = GetFileInformationByHandle(ha, &ia) && GetFileInformationByHandle(hb, &ib) &&
                ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
                ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
    CloseHandle(hb);
    CloseHandle(ha);
    return same;
}

} // namespace qm::win32

namespace qm::ui {

// The checks work on the extended-length forms of both paths, queried both before any test.
path_facts query_path_facts(const std::filesystem::path& source, const std::filesystem::path& destination)
{
    std::wstring s = win32::long_path(source.native());
    std::wstring d = win32::long_path(destination.native());
    path_facts f;
    DWORD sa = GetFileAttributesW(s.c_str());
    DWORD da = GetFileAttributesW(d.c_str());
    if (sa != INVALID_FILE_ATTRIBUTES) {
        f.source_queried = true;
        f.source_is_folder = (sa & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    if (da != INVALID_FILE_ATTRIBUTES) {
        f.destination_queried = true;
        f.destination_is_folder = (da & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    // Only asked once the earlier checks have passed, as the dialog does.
    if (f.source_queried && !f.source_is_folder && !(f.destination_queried && f.destination_is_folder))
        f.same_file = win32::same_file(s, d);
    return f;
}

} // namespace qm::ui
