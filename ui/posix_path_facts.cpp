// The POSIX file-system queries behind the path checks (the Windows program has its own).

#include "ui/path_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::ui {

namespace {

// Opens both for reading and compares device and inode, as the Windows program compares volume
// serial number and file index: a file that cannot be opened counts as a different file.
bool same_open_file(const std::filesystem::path& a, const std::filesystem::path& b)
{
    int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    if (fa < 0)
        return false;
    int fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
    if (fb < 0) {
        ::close(fa);
        return false;
    }
    struct stat sa {
    }, sb{};
    bool same =
        ::fstat(fa, &sa) == 0 && ::fstat(fb, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    ::close(fb);
    ::close(fa);
    return same;
}

} // namespace

path_facts query_path_facts(const std::filesystem::path& source, const std::filesystem::path& destination)
{
    path_facts f;
    struct stat s {};
    // Both queries are made before any test, as in the dialog.
    if (::stat(source.c_str(), &s) == 0) {
        f.source_queried = true;
        f.source_is_folder = S_ISDIR(s.st_mode);
    }
    if (::stat(destination.c_str(), &s) == 0) {
        f.destination_queried = true;
        f.destination_is_folder = S_ISDIR(s.st_mode);
    }
    if (f.source_queried && !f.source_is_folder && !f.destination_is_folder)
        f.same_file = same_open_file(source, destination);
    return f;
}

} // namespace qm::ui
