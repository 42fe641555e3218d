#include "patch_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

namespace {

constexpr uid_t nobody = 65534;
constexpr int exec_failed = 127;

[[noreturn]] void child(const std::vector<std::string>& arguments, const patch_run_options& options,
                        int err_fd)
{
    ::dup2(err_fd, STDERR_FILENO);
    std::signal(SIGPIPE, SIG_DFL); // as a shell starts it
    int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, STDIN_FILENO);
    ::dup2(null_fd, STDOUT_FILENO);
    if (options.file_size_limit) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{options.file_size_limit, options.file_size_limit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(exec_failed);
    }
    if (options.unprivileged && ::getuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(exec_failed);
    }
    if (!options.interrupt_at.empty())
        ::setenv("QUILLMOOR_PATCH_TEST_INTERRUPT", options.interrupt_at.c_str(), 1);
    std::vector<char*> argv;
    std::string exe = QM_PATCH_EXE;
    argv.push_back(exe.data());
    std::vector<std::string> copies = arguments;
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(exec_failed);
}

} // namespace

patch_run run_patch_process(const std::vector<std::string>& arguments, const patch_run_options& options)
{
    patch_run result;
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0)
        return result;
    if (options.stderr_unread)
        ::close(pipe_fds[0]);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!options.stderr_unread)
            ::close(pipe_fds[0]);
        child(arguments, options, pipe_fds[1]);
    }
    ::close(pipe_fds[1]);
    std::string line;
    char buf[4096];
    while (!options.stderr_unread) {
        const ssize_t n = ::read(pipe_fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            result.err.push_back(buf[i]);
            if (buf[i] != '\n' && buf[i] != '\r') {
                line.push_back(buf[i]);
            } else if (!line.empty()) {
                if (options.on_line)
                    options.on_line(line, pid);
                line.clear();
            }
        }
    }
    if (!options.stderr_unread)
        ::close(pipe_fds[0]);
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    result.exited = WIFEXITED(raw);
    result.status = result.exited ? WEXITSTATUS(raw) : WTERMSIG(raw);
    result.could_not_start = result.exited && result.status == exec_failed && result.err.empty();
    return result;
}

} // namespace qm::test
