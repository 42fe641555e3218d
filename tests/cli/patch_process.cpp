#include "patch_process.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

patch_run run_patch_process(const std::vector<std::string>& arguments, const patch_run_options& options)
{
    constexpr int exec_failed = 127;
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    if (options.stderr_unread)
        ::close(fds[0]);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDERR_FILENO);
        if (!options.stderr_unread)
            ::close(fds[0]);
        std::signal(SIGPIPE, SIG_DFL); // as a shell starts it
        const int null_fd = ::open("/dev/null", O_RDWR);
        ::dup2(null_fd, STDIN_FILENO);
        ::dup2(null_fd, STDOUT_FILENO);
        const rlimit limit{options.file_size_limit, options.file_size_limit};
        if (options.file_size_limit)
            std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of killing
        if (options.file_size_limit && ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(exec_failed);
        if (options.unprivileged && ::getuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(exec_failed);
        if (!options.interrupt_at.empty())
            ::setenv("QUILLMOOR_PATCH_TEST_INTERRUPT", options.interrupt_at.c_str(), 1);
        std::vector<char*> argv = {const_cast<char*>(QM_PATCH_EXE)};
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(QM_PATCH_EXE, argv.data());
        ::_exit(exec_failed);
    }
    ::close(fds[1]);
    patch_run result;
    std::string line;
    for (char c; !options.stderr_unread && ::read(fds[0], &c, 1) == 1;) {
        result.err.push_back(c);
        if (c != '\n' && c != '\r') {
            line.push_back(c);
        } else if (!line.empty()) {
            if (options.on_line)
                options.on_line(line, pid);
            line.clear();
        }
    }
    if (!options.stderr_unread)
        ::close(fds[0]);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    result.exited = WIFEXITED(raw);
    result.status = result.exited ? WEXITSTATUS(raw) : WTERMSIG(raw);
    result.could_not_start = result.exited && result.status == exec_failed && result.err.empty();
    return result;
}

} // namespace qm::test
