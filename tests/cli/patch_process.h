#pragma once
// Runs quillmoor-patch as a child process under conditions a shell cannot set up reliably: a
// file-size limit, a user without root's privileges, a signal at a chosen moment.

#include "job_fixture.h"

#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace qm::test {

struct patch_run_options {
    unsigned long long file_size_limit = 0; // RLIMIT_FSIZE (0: none); past it, writes fail with EFBIG
    bool unprivileged = false;              // as "nobody" when run as root, so that permissions apply
    bool stderr_unread = false;             // nobody reads stderr (as after "| head -1" ended)
    std::string interrupt_at;               // "before-commit" or "after-commit": interrupts itself there
    std::function<void(const std::string& line, int pid)> on_line; // each stderr line, may signal the child
};

struct patch_run {
    bool exited = false; // false: killed by a signal
    int status = -1;     // exit status, or the signal number
    std::string err;     // everything written on stderr
    bool could_not_start = false;
};

patch_run run_patch_process(const std::vector<std::string>& arguments, const patch_run_options& options = {});

// The game and an archive (dir/patch.bin) that patches its readme, for runs of quillmoor-patch.
class cli_fixture : public job_fixture {
protected:
    void SetUp() override
    {
        job_fixture::SetUp();
        archive = write_game_and_readme_patch();
    }

    // SOURCE DEST --archive dir/patch.bin.
    patch_run run(const fs::path& from, const fs::path& to, const patch_run_options& options = {})
    {
        return run_patch_process({from.string(), to.string(), "--archive", archive.string()}, options);
    }

    // Exit status 1 with `message` under the error heading.
    static void expect_error(const patch_run& r, const std::string& message)
    {
        EXPECT_TRUE(r.exited) << "killed by signal " << r.status;
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("Une erreur s'est produite:\n\n" + message), std::string::npos) << r.err;
    }

    fs::path archive;
};

} // namespace qm::test
