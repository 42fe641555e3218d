// VCDIFF speed on a 64 MiB file with scattered translation-like edits: our encoder and
// decoder, and, when xdelta3 is installed, `xdelta3 -d` on the same delta (plus its own
// encoder for the size comparison).

#include "common/file_io.h"
#include "tests/vcdiff/sample_data.h"
#include "vcdiff/vcdiff_decoder.h"
#include "vcdiff/vcdiff_encoder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace {

using namespace qm;
using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// CPU time of this process, and of the finished child processes: the machine may be shared,
// and CPU time suffers less from that than wall time.
double cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double children_cpu_seconds()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// Best of `runs` timings of f(), wall and CPU.
template <class F> std::pair<double, double> best_of(int runs, F f, double (*cpu)() = cpu_seconds)
{
    double wall = 1e9, used = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = clock_type::now();
        const double cpu_start = cpu();
        if (!f())
            return {-1, -1};
        used = std::min(used, cpu() - cpu_start);
        wall = std::min(wall, seconds_since(start));
    }
    return {wall, used};
}

// Scattered edits applied in one pass: replacements, insertions and deletions, about one
// every `spacing` bytes, the size kept within the decoder's 64 MiB limit.
bytes edit_scattered(const bytes& source, std::size_t spacing, std::uint32_t seed)
{
    static const std::string phrases[] = {
        "chevalier ", "Bonjour voyageur ! ", "le village de Quillmoor ", "potion de soin ",
        "dragon ",    "pièces d'or "};
    std::mt19937 rng(seed);
    bytes t;
    t.reserve(source.size() + source.size() / 16);
    std::size_t pos = 0;
    while (pos < source.size()) {
        const std::size_t next = std::min(source.size(), pos + spacing / 2 + rng() % spacing);
        t.insert(t.end(), source.begin() + static_cast<std::ptrdiff_t>(pos),
                 source.begin() + static_cast<std::ptrdiff_t>(next));
        pos = next;
        const std::string& p = phrases[rng() % std::size(phrases)];
        switch (rng() % 3) {
        case 0: // insert new text
            t.insert(t.end(), p.begin(), p.end());
            break;
        case 1: // replace text with a longer or shorter one
            t.insert(t.end(), p.begin(), p.end());
            pos += 4 + rng() % 24;
            break;
        default: // delete
            pos += 1 + rng() % 40;
            break;
        }
    }
    if (t.size() > (64u << 20))
        t.resize(64u << 20);
    return t;
}

bool have_xdelta3()
{
    return std::system("command -v xdelta3 >/dev/null 2>&1") == 0;
}

} // namespace

int main()
{
    constexpr std::size_t size = 64u << 20;
    std::printf("generating %zu MiB source and edited target...\n", size >> 20);
    const bytes source = test::make_text_like(size, 1);
    const bytes target = edit_scattered(source, 3000, 2);
    const double mib = static_cast<double>(target.size()) / (1 << 20);
    std::printf("source %zu bytes, target %zu bytes\n", source.size(), target.size());

    bytes delta;
    const auto [encode_wall, encode_cpu] = best_of(2, [&] {
        delta = vcdiff_encode(source, target);
        return true;
    });
    std::printf("encode: %zu-byte delta; %.3f s wall, %.3f s CPU: %.1f MB/s (MiB of target per CPU second)\n",
                delta.size(), encode_wall, encode_cpu, mib / encode_cpu);

    bytes out;
    std::string why;
    const auto [decode_wall, decode_cpu] =
        best_of(3, [&] { return vcdiff_decode(source, delta, out, &why); });
    if (decode_wall < 0 || out != target) {
        std::printf("decode failed: %s\n", why.c_str());
        return 1;
    }
    std::printf("decode: %.3f s wall, %.3f s CPU: %.1f MB/s\n", decode_wall, decode_cpu, mib / decode_cpu);

    if (!have_xdelta3()) {
        std::printf("xdelta3 not installed: no comparison\n");
        return 0;
    }
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("qm_vcdiff_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    write_whole_file(dir / "src", source);
    write_whole_file(dir / "tgt", target);
    write_whole_file(dir / "ours", delta);
    const std::string cd = "cd '" + dir.string() + "' && ";
    auto run = [&](const std::string& cmd) { return std::system((cd + cmd).c_str()) == 0; };

    const auto [xd_wall, xd_cpu] = best_of(
        3, [&] { return run("xdelta3 -d -f -q -s src ours out"); }, children_cpu_seconds);
    const bool same = xd_wall >= 0 && read_whole_file(dir / "out") == target;
    std::printf(
        "xdelta3 -d on the same delta (whole process, files in %s): %.3f s wall, %.3f s CPU: %.1f MB/s%s\n",
        dir.parent_path().c_str(), xd_wall, xd_cpu, mib / xd_cpu, same ? "" : " FAILED OR DIFFERENT");
    for (const char* level : {"", "-9 "}) {
        const auto [wall, used] = best_of(
            1,
            [&] { return run(std::string("xdelta3 -e ") + level + "-f -q -S none -A -n -s src tgt theirs"); },
            children_cpu_seconds);
        std::printf("xdelta3 -e %s-S none -A -n: %ju-byte delta; %.3f s wall, %.3f s CPU\n", level,
                    static_cast<std::uintmax_t>(fs::file_size(dir / "theirs")), wall, used);
    }
    fs::remove_all(dir);
    return same ? 0 : 1;
}
