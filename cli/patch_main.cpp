// quillmoor-patch SOURCE DEST [--archive PACKED] [--quiet] [--timing]
// Runs the patch job with the archive built into the program (or PACKED). Exit status: 0 success,
// 1 error, 2 bad usage, 130 cancelled with Ctrl-C (nothing left at DEST). --timing prints, once the
// job has run, how long each of its phases took (for benchmarks).

#include "cli/console_progress.h"
#include "cli/embedded_archive.h"
#include "common/file_io.h"
#include "common/phase_timer.h"
#include "engine/patcher.h"
#include "ui/path_checks.h"
#include "ui/progress_state.h"
#include "ui/ui_texts.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

qm::patcher* running = nullptr;

extern "C" void on_interrupt(int)
{
    // The cancel flag is a lock-free atomic byte: storing to it is safe in a signal handler.
    if (running)
        running->request_cancel();
}

int usage()
{
    std::fputs("usage: quillmoor-patch SOURCE DEST [--archive PACKED] [--quiet] [--timing]\n", stderr);
    return 2;
}

// The phases in seconds, one per line, in processor time of the job's thread and (in brackets)
// of the worker threads; waiting in wall time. What no phase covers is the rest of the job.
void print_timing(const qm::phase_timer& timer, std::chrono::steady_clock::duration total)
{
    const auto seconds = [](auto d) { return std::chrono::duration<double>(d).count(); };
    std::fputs("timing (processor time; waiting and total on the wall clock):\n", stderr);
    qm::phase_timer::duration covered{};
    qm::phase_timer::duration workers{};
    for (std::size_t i = 0; i < qm::job_phase_count; ++i) {
        const auto phase = static_cast<qm::job_phase>(i);
        if (phase != qm::job_phase::cpk_waiting)
            covered += timer.total(phase);
        workers += timer.helper_total(phase);
        std::fprintf(stderr, "  %-26s %8.4f s", qm::job_phase_name(phase), seconds(timer.total(phase)));
        if (timer.helper_total(phase).count() != 0)
            std::fprintf(stderr, "  (+ %.4f s on worker threads)", seconds(timer.helper_total(phase)));
        std::fputc('\n', stderr);
    }
    std::fprintf(stderr, "  %-26s %8.4f s\n", "rest of the job", seconds(timer.job_thread_total() - covered));
    std::fprintf(stderr, "  %-26s %8.4f s\n", "job thread", seconds(timer.job_thread_total()));
    std::fprintf(stderr, "  %-26s %8.4f s\n", "worker threads", seconds(workers));
    std::fprintf(stderr, "  %-26s %8.4f s\n", "total", seconds(total));
}

// For the tests of an interrupt at the commit, which no outside timing can hit reliably:
// QUILLMOOR_PATCH_TEST_INTERRUPT=before-commit or after-commit makes the program send itself the
// Ctrl-C signal at that moment of the run.
void interrupt_at_commit_if_asked(qm::patcher& engine)
{
    const char* asked = std::getenv("QUILLMOOR_PATCH_TEST_INTERRUPT");
    if (!asked)
        return;
    const std::string moment = asked;
    engine.watch_commit([moment](qm::patcher::commit_moment m) {
        if (moment == (m == qm::patcher::commit_moment::before ? "before-commit" : "after-commit"))
            std::raise(SIGINT);
    });
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> positional;
    std::string archive_path;
    bool quiet = false;
    bool timing = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--archive") {
            if (++i == argc)
                return usage();
            archive_path = argv[i];
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--timing") {
            timing = true;
        } else if (a == "-h" || a == "--help") {
            usage();
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return usage();
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2)
        return usage();
    std::filesystem::path source = positional[0];
    std::filesystem::path destination = positional[1];

    if (auto error = qm::ui::first_path_error(qm::ui::query_path_facts(source, destination))) {
        std::fprintf(stderr, "%s: %s\n", qm::ui::text_error_title, error->c_str());
        return 1;
    }

    qm::bytes archive_file;
    qm::byte_span archive = qm::embedded_archive();
    qm::patcher engine;
    qm::phase_timer timer;
    if (timing)
        engine.time_phases(&timer);
    interrupt_at_commit_if_asked(engine);
    std::chrono::steady_clock::duration job_time{};
    auto style = quiet ? qm::console_progress::style::quiet
                 : ::isatty(STDERR_FILENO) ? qm::console_progress::style::bar
                                           : qm::console_progress::style::lines;
    qm::console_progress progress(engine, style);
    try {
        if (!archive_path.empty()) {
            archive_file = qm::read_whole_file(archive_path);
            archive = archive_file;
        }
        running = &engine;
        std::signal(SIGINT, on_interrupt);
        std::signal(SIGTERM, on_interrupt);
#ifdef SIGPIPE
        // Progress goes to stderr; if whatever reads it goes away, the writes fail quietly and
        // the run goes on, rather than the signal killing it half-way.
        std::signal(SIGPIPE, SIG_IGN);
#endif
        const auto start = std::chrono::steady_clock::now();
        engine.run_patch_job(source, destination, archive.data(), static_cast<std::uint32_t>(archive.size()),
                             progress);
        job_time = std::chrono::steady_clock::now() - start;
        running = nullptr;
    } catch (const std::exception& e) {
        running = nullptr;
        progress.close_line();
        std::fprintf(stderr, "%s\n", qm::ui::error_text(e.what()).c_str());
        return 1;
    }
    if (timing)
        print_timing(timer, job_time);
    // A Ctrl-C that came after the destination was committed changed nothing: the run succeeded.
    if (!engine.destination_written()) {
        progress.show_cancelling();
        progress.close_line();
        return 130;
    }
    if (!quiet)
        std::fprintf(stderr, "%s\n", qm::ui::text_success);
    return 0;
}
