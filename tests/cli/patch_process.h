#pragma once
// Runs quillmoor-patch as a child process under conditions a shell cannot set up reliably: a
// file-size limit, a user without root's privileges, a signal at a chosen moment.

#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace qm::test {

struct patch_run_options {
    // RLIMIT_FSIZE for the child, in bytes (0: unlimited). SIGXFSZ is ignored, so a write past
    // the limit fails with EFBIG instead of killing the process.
    unsigned long long file_size_limit = 0;
    // Run as the unprivileged user "nobody" when the tests run as root, so that file
    // permissions apply. No effect otherwise.
    bool unprivileged = false;
    // Called with each line the child writes on stderr, and the child's pid: may signal it.
    std::function<void(const std::string& line, int pid)> on_line;
};

struct patch_run {
    bool exited = false;          // false: killed by a signal
    int status = -1;              // exit status, or the signal number
    std::string err;              // everything written on stderr
    bool could_not_start = false; // exec failed (e.g. the binary is not reachable for nobody)
};

patch_run run_patch_process(const std::vector<std::string>& arguments, const patch_run_options& options = {});

// True when run_patch_process can drop root's privileges (the tests run as root).
bool running_as_root();

} // namespace qm::test
