#pragma once
// The file-system side of the path checks on Windows: extended-length paths and the same-file
// test by volume serial number and file index.

#include <string>

namespace qm::win32 {

// "\\?\" followed by the path, whatever its form: the prefix lifts the MAX_PATH limit and turns
// off the normalisation of the path, so a relative path no longer names anything.
std::wstring long_path(const std::wstring& path);

// Whether both paths open the same file (any spelling: letter case, short names, hard links).
// A path that cannot be opened for reading with read sharing counts as a different file.
bool same_file(const std::wstring& a, const std::wstring& b);

} // namespace qm::win32
