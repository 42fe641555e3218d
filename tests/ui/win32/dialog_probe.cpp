// A helper of scripts/wine-gui-test, run beside the program under Wine: it reads a control of the
// program's dialog, and drops files on the dialog the way the shell does, with a WM_DROPFILES
// whose file list lies in the receiving process (where DragQueryFile reads it).
//
//   dialog_probe text CAPTION_START CONTROL_ID   prints the control's text, in UTF-8
//   dialog_probe drop CAPTION_START PATH...      drops the files on the dialog
//
// The dialog is the visible top-level window whose caption starts with CAPTION_START. Exit 0, or 1
// when there is no such window or a step fails (with a word on stderr).
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct search {
    std::wstring caption_start;
    HWND found = nullptr;
};

BOOL CALLBACK match(HWND window, LPARAM state)
{
    auto* s = reinterpret_cast<search*>(state);
    wchar_t caption[256] = L"";
    GetWindowTextW(window, caption, 256);
    if (IsWindowVisible(window) &&
        std::wcsncmp(caption, s->caption_start.c_str(), s->caption_start.size()) == 0) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

int fail(const char* what)
{
    std::fprintf(stderr, "dialog_probe: %s (error %lu)\n", what, GetLastError());
    return 1;
}

// The control's text through WM_GETTEXT, which the system carries between processes (reading it
// with GetWindowText would give another process's control no text).
int print_text(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        return fail("no such control");
    std::vector<wchar_t> text(32768);
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 5000, &length))
        return fail("WM_GETTEXT got no answer");
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(length), utf8.data(), size, nullptr,
                        nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return 0;
}

// A DROPFILES block (wide paths, each ended by a zero, then one more zero) written into the
// dialog's process; the dialog's DragFinish releases it.
int drop(HWND dialog, int count, wchar_t** paths)
{
    std::vector<wchar_t> list;
    for (int i = 0; i < count; ++i)
        list.insert(list.end(), paths[i], paths[i] + std::wcslen(paths[i]) + 1);
    list.push_back(L'\0');
    DROPFILES header{};
    header.pFiles = sizeof header;
    header.fWide = TRUE;
    std::vector<char> block(sizeof header + list.size() * sizeof(wchar_t));
    std::memcpy(block.data(), &header, sizeof header);
    std::memcpy(block.data() + sizeof header, list.data(), list.size() * sizeof(wchar_t));

    DWORD process_id = 0;
    GetWindowThreadProcessId(dialog, &process_id);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process_id);
    if (!process)
        return fail("cannot open the dialog's process");
    void* remote = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    const bool written = remote && WriteProcessMemory(process, remote, block.data(), block.size(), nullptr);
    CloseHandle(process);
    if (!written)
        return fail("cannot write the file list into the dialog's process");
    if (!PostMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0))
        return fail("cannot post WM_DROPFILES");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 2 ? argv[1] : L"";
    if (!(command == L"text" && argc == 4) && !(command == L"drop" && argc >= 4)) {
        std::fputs("usage: dialog_probe text CAPTION_START CONTROL_ID | drop CAPTION_START PATH...\n",
                   stderr);
        return 2;
    }
    search s{argv[2]};
    EnumWindows(match, reinterpret_cast<LPARAM>(&s));
    if (!s.found)
        return fail("no visible window with that caption");
    return command == L"text" ? print_text(s.found, std::stoi(argv[3])) : drop(s.found, argc - 3, argv + 3);
}
