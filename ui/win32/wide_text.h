#pragma once
// Conversions between the 8-bit texts of the engine and the portable UI code and the UTF-16 of
// the Win32 boundary.

#include <string>
#include <string_view>

namespace qm::win32 {

// The UI texts of the shared code are UTF-8.
std::wstring from_utf8(std::string_view text);

// Engine texts (error messages, ROM file-system paths) are 8-bit in the thread's ANSI code page.
std::wstring from_ansi(std::string_view text);

} // namespace qm::win32
