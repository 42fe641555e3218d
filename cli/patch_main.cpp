// quillmoor-patch SOURCE DEST [--archive PACKED] [--quiet] [--timing]
// quillmoor-patch --check SOURCE [--archive PACKED]
// Runs the patch job with the archive built into the program (or PACKED). Exit status: 0 success,
// 1 error, 2 bad usage, 130 cancelled with Ctrl-C (nothing left at DEST). After an error it says
// what the source is and what to do; after a success, the written ROM's SHA-1 and whether it is
// the expected translation. --check runs the same job into nothing: it refuses what the run
// refuses and writes nothing. --timing prints,
// once the job has run, how long each of its phases took (for benchmarks).

#include "cli/console_progress.h"
#include "cli/embedded_archive.h"
#include "common/file_io.h"
#include "common/phase_timer.h"
#include "engine/identity_card.h"
#include "engine/output_fingerprint.h"
#include "engine/patcher.h"
#include "engine/source_diagnosis.h"
#include "ui/explanations.h"
#include "ui/path_checks.h"
#include "ui/progress_state.h"
#include "ui/team_contacts.h"
#include "ui/ui_texts.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

// The running job, for the Ctrl-C handler. Both the pointer and the cancel flag are lock-free
// atomics, which a signal handler may use.
std::atomic<qm::patcher*> running{nullptr};
static_assert(std::atomic<qm::patcher*>::is_always_lock_free);

extern "C" void on_interrupt(int)
{
    if (qm::patcher* engine = running.load())
        engine->request_cancel();
}

constexpr const char* usage_text =
    "utilisation\u00A0: quillmoor-patch SOURCE DESTINATION [--archive ARCHIVE] [--quiet] [--timing]\n"
    "              quillmoor-patch --check SOURCE [--archive ARCHIVE]\n"
    "              quillmoor-patch --help | --version\n";

int usage()
{
    std::fprintf(stderr, "%squillmoor-patch --help explique chaque option.\n", usage_text);
    return 2;
}

int help()
{
    std::printf(
        "quillmoor-patch applique la traduction française de Quillmoor à votre ROM Nintendo DS et écrit la "
        "ROM traduite dans un nouveau fichier, sans toucher à l'original.\n\n"
        "%s\n"
        "  SOURCE             votre ROM de Quillmoor (fichier .nds), qui n'est que lue\n"
        "  DESTINATION        le fichier à créer\u00A0: la ROM traduite (un fichier existant n'est remplacé\n"
        "                     qu'une fois tout le travail réussi)\n"
        "  --check            vérifie seulement que le patch s'applique à SOURCE, sans rien écrire\n"
        "  --archive ARCHIVE  applique ce fichier de patch au lieu de celui du programme\n"
        "  --quiet            n'affiche pas l'avancement\n"
        "  --timing           affiche ensuite la durée de chaque étape (mesures de performance)\n"
        "  --help, --version  cette aide, la version du programme\n\n"
        "Code de sortie\u00A0: 0 succès, 1 erreur (avec son explication), 2 arguments incorrects,\n"
        "130 annulé avec Ctrl-C (rien n'est écrit).\n\n"
        "Traduction\u00A0: %s\n"
        "Le programme, ses mises à jour et le guide du joueur\u00A0: %s\n"
        "Une question, un problème\u202F? %s\n",
        usage_text, qm::ui::team_name, qm::ui::download_url, qm::ui::help_url);
    return 0;
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

// The identity card that goes with the archive: the built-in one, or the one beside PACKED. A
// patch works without it, with fewer explanations; an unreadable card is ignored, with a word.
std::optional<qm::identity_card> load_card(const std::string& archive_path)
{
    std::string text(qm::embedded_card());
    if (!archive_path.empty()) {
        text.clear();
        const std::filesystem::path card = qm::card_path_for(archive_path);
        std::error_code error;
        if (std::filesystem::is_regular_file(card, error)) {
            const qm::bytes raw = qm::read_whole_file(card);
            text.assign(raw.begin(), raw.end());
        }
    }
    if (text.empty())
        return std::nullopt;
    try {
        return qm::read_identity_card(text);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Carte d'identité du patch ignorée (%s).\n", e.what());
        return std::nullopt;
    }
}

// The engine's message exactly as it is, then what the file is and what to do.
void report_failure(const std::string& message, const std::filesystem::path& source,
                    const std::optional<qm::identity_card>& card)
{
    std::fprintf(stderr, "%s\n", qm::ui::error_text(message).c_str());
    const qm::identity_card* c = card ? &*card : nullptr;
    std::fprintf(stderr, "\n%s\n", qm::ui::explain_refusal(qm::diagnose_source(source, c), c).c_str());
}

// --check SOURCE: the whole job in memory, nothing written.
int check_source(const std::filesystem::path& source, qm::byte_span archive,
                 const std::optional<qm::identity_card>& card)
{
    std::error_code error;
    if (!std::filesystem::exists(source, error) || std::filesystem::is_directory(source, error)) {
        const bool folder = std::filesystem::is_directory(source, error);
        std::fprintf(stderr, "%s\u00A0: %s\n", qm::ui::text_error_title,
                     folder ? qm::ui::text_source_is_folder : qm::ui::text_bad_source);
        return 1;
    }
    qm::patcher engine;
    qm::silent_listener quiet;
    try {
        engine.check_patch_job(source, archive, quiet);
    } catch (const std::exception& e) {
        report_failure(e.what(), source, card);
        return 1;
    }
    const qm::identity_card* c = card ? &*card : nullptr;
    std::printf("%s\n", qm::ui::describe_accepted_source(qm::diagnose_source(source, c), c).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> positional;
    std::string archive_path;
    bool quiet = false;
    bool timing = false;
    bool check = false;
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
        } else if (a == "--check") {
            check = true;
        } else if (a == "-h" || a == "--help") {
            return help();
        } else if (a == "--version") {
            std::printf("quillmoor-patch %s\n", QM_VERSION);
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return usage();
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != (check ? 1u : 2u))
        return usage();
    std::filesystem::path source = positional[0];

    qm::bytes archive_file;
    qm::byte_span archive = qm::embedded_archive();
    if (!archive_path.empty()) {
        try {
            archive_file = qm::read_whole_file(archive_path);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", qm::ui::error_text(e.what()).c_str());
            return 1;
        }
        archive = archive_file;
    }
    const std::optional<qm::identity_card> card = load_card(archive_path);
    if (check)
        return check_source(source, archive, card);

    std::filesystem::path destination = positional[1];
    if (auto error = qm::ui::first_path_error(qm::ui::query_path_facts(source, destination))) {
        std::fprintf(stderr, "%s\u00A0: %s\n", qm::ui::text_error_title, error->c_str());
        return 1;
    }

    qm::patcher engine;
    qm::phase_timer timer;
    if (timing)
        engine.time_phases(&timer);
    interrupt_at_commit_if_asked(engine);
    std::chrono::steady_clock::duration job_time{};
    auto style = quiet                     ? qm::console_progress::style::quiet
                 : ::isatty(STDERR_FILENO) ? qm::console_progress::style::bar
                                           : qm::console_progress::style::lines;
    qm::console_progress progress(engine, style);
    // The proof of the result is taken as the ROM is written; a quiet run shows none.
    std::optional<qm::output_fingerprint> fingerprint;
    if (!quiet)
        fingerprint.emplace();
    try {
        running = &engine;
        std::signal(SIGINT, on_interrupt);
        std::signal(SIGTERM, on_interrupt);
#ifdef SIGPIPE
        // Progress goes to stderr; if whatever reads it goes away, the writes fail quietly and
        // the run goes on, rather than the signal killing it half-way.
        std::signal(SIGPIPE, SIG_IGN);
#endif
        const auto start = std::chrono::steady_clock::now();
        engine.run_patch_job(source, destination, archive, progress, fingerprint ? &*fingerprint : nullptr);
        job_time = std::chrono::steady_clock::now() - start;
        running = nullptr;
    } catch (const std::exception& e) {
        running = nullptr;
        progress.close_line();
        report_failure(e.what(), source, card);
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
    if (fingerprint) {
        std::fprintf(stderr, "%s\n", qm::ui::text_success);
        // The proof of the result: the written ROM's fingerprint against the card's translation.
        try {
            const qm::identity_card* c = card ? &*card : nullptr;
            std::fprintf(stderr, "%s\n", qm::ui::describe_result(fingerprint->result(), c).c_str());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
        }
    }
    return 0;
}
