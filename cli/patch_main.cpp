// quillmoor-patch SOURCE DEST [--archive PACKED] [--quiet]
// Runs the patch job with the archive built into the program (or PACKED). Exit status: 0 success,
// 1 error, 2 bad usage, 130 cancelled with Ctrl-C (nothing left at DEST).

#include "cli/console_progress.h"
#include "cli/embedded_archive.h"
#include "common/file_io.h"
#include "engine/patcher.h"
#include "ui/path_checks.h"
#include "ui/progress_state.h"
#include "ui/ui_texts.h"

#include <csignal>
#include <cstdio>
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
    std::fputs("usage: quillmoor-patch SOURCE DEST [--archive PACKED] [--quiet]\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> positional;
    std::string archive_path;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--archive") {
            if (++i == argc)
                return usage();
            archive_path = argv[i];
        } else if (a == "--quiet") {
            quiet = true;
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
        engine.run_patch_job(source, destination, archive.data(), static_cast<std::uint32_t>(archive.size()),
                             progress);
        running = nullptr;
    } catch (const std::exception& e) {
        running = nullptr;
        progress.close_line();
        std::fprintf(stderr, "%s\n", qm::ui::error_text(e.what()).c_str());
        return 1;
    }
    if (engine.cancel_requested()) {
        progress.show_cancelling();
        progress.close_line();
        return 130;
    }
    if (!quiet)
        std::fprintf(stderr, "%s\n", qm::ui::text_success);
    return 0;
}
