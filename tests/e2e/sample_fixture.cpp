#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "tools/sample_game.h"

#include <atomic>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

namespace {

std::string quoted(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? "'\\''" : std::string(1, c);
    return out + "'";
}

} // namespace

const std::filesystem::path& sample_dir()
{
    static const std::filesystem::path dir = QM_E2E_SAMPLE_DIR;
    return dir;
}

std::filesystem::path sample_original()
{
    return sample_dir() / sample_original_name;
}
std::filesystem::path sample_translation()
{
    return sample_dir() / sample_translation_name;
}

const bytes& sample_patch()
{
    static const bytes packed = read_whole_file(sample_dir() / "patch.bin");
    return packed;
}

scratch_dir::scratch_dir()
{
    static std::atomic<unsigned> counter{0};
    path = std::filesystem::path(QM_BINARY_DIR) / "tests" / "e2e" /
           ("scratch-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path); // left by an earlier run that was stopped
    std::filesystem::create_directories(path);
}

scratch_dir::~scratch_dir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

int run_program(const char* program, const std::vector<std::filesystem::path>& args, std::string& err,
                bool with_stdout)
{
    std::string command = quoted((std::filesystem::path(QM_BINARY_DIR) / "cli" / program).string());
    for (const std::filesystem::path& a : args)
        command += " " + quoted(a.string());
    command += with_stdout ? " </dev/null 2>&1" : " </dev/null 2>&1 >/dev/null";
    FILE* p = ::popen(command.c_str(), "r");
    err.clear();
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
        err.append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace qm::test
