#include "ui/win32/wide_text.h"

#include <windows.h>

#include <climits>

namespace qm::win32 {

namespace {

std::wstring widen(std::string_view text, UINT code_page)
{
    if (text.empty() || text.size() > INT_MAX)
        return {};
    int length = static_cast<int>(text.size());
    int needed = MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), length, out.data(), needed);
    return out;
}

} // namespace

std::wstring from_utf8(std::string_view text)
{
    return widen(text, CP_UTF8);
}

std::wstring from_ansi(std::string_view text)
{
    return widen(text, CP_THREAD_ACP);
}

} // namespace qm::win32
