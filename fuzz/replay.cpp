// Replays one target's corpus (fuzz/corpus/<target>/) without a fuzzer, in every build, so that an
// input that once broke a property keeps being tried by the tests. Each file is one input; a
// broken property aborts with its name, as under the fuzzer. The build names the target
// (QM_FUZZ_TARGET).

#include "common/file_io.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#define QM_STRINGIFY(x) #x
#define QM_NAME(x) QM_STRINGIFY(x)

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    std::vector<std::filesystem::path> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
        if (entry.is_regular_file())
            inputs.push_back(entry.path());
    std::ranges::sort(inputs);
    if (inputs.empty()) {
        std::fprintf(stderr, "%s: no input in %s\n", QM_NAME(QM_FUZZ_TARGET), argv[1]);
        return 1;
    }
    for (const std::filesystem::path& input : inputs) {
        std::fprintf(stderr, "%s\n", input.filename().string().c_str());
        qm::fuzz::QM_FUZZ_TARGET(qm::read_whole_file(input));
    }
    std::printf("%s: %zu inputs replayed\n", QM_NAME(QM_FUZZ_TARGET), inputs.size());
    return 0;
}
