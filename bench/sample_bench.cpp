// Whole runs on the sample game: making it, authoring its patch and patching it, with the figures
// in MB/s of the original ROM. Usage: sample_bench [SIZE_MIB] (default 128).

#include "common/file_io.h"
#include "engine/patcher.h"
#include "tools/make_patch.h"
#include "tools/sample_game.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* what, double seconds, std::uint64_t bytes)
{
    std::printf("%-28s %8.2f s  %8.1f MB/s\n", what, seconds, double(bytes) / 1e6 / seconds);
}

} // namespace

int main(int argc, char** argv)
{
    const std::uint32_t size =
        argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 128;
    if (size == 0) {
        std::fputs("usage: sample_bench [SIZE_MIB]\n", stderr);
        return 2;
    }
    const auto dir =
        std::filesystem::temp_directory_path() / ("quillmoor-sample-bench-" + std::to_string(size));
    std::filesystem::remove_all(dir);
    try {
        auto start = std::chrono::steady_clock::now();
        const qm::sample_summary s = qm::make_sample(dir, qm::sample_options{size, 1});
        report("make-sample", seconds_since(start), s.original_bytes);

        const auto original = dir / qm::sample_original_name;
        const auto translation = dir / qm::sample_translation_name;
        start = std::chrono::steady_clock::now();
        const qm::authored_patch p = qm::make_patch(original, translation);
        report("make-patch (with its check)", seconds_since(start), s.original_bytes);

        start = std::chrono::steady_clock::now();
        qm::patcher engine;
        qm::silent_listener listener;
        engine.run_patch_job(original, dir / "patched.nds", p.packed, listener);
        report("patch job", seconds_since(start), s.original_bytes);
        std::printf("original %llu bytes, archive %llu bytes packed, %u steps\n",
                    static_cast<unsigned long long>(s.original_bytes),
                    static_cast<unsigned long long>(p.report.packed_bytes), p.report.total_steps);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sample_bench: %s\n", e.what());
        std::filesystem::remove_all(dir);
        return 1;
    }
    std::filesystem::remove_all(dir);
    return 0;
}
