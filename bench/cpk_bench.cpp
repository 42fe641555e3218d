// Speed of the CPK entry codec on 1 MiB of text-like data, random data and zeros (and, as a
// harder case for the match finder, bytes of only four values). Prints MB/s for each direction,
// measured in processor time (best of a few runs).

#include "cpk/cpk_compress.h"
#include "cpk/cpk_decompress.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

using qm::bytes;

// Processor time of this thread: the figures stay meaningful on a machine shared with other work.
struct cpu_clock {
    using time_point = double;
    static double now()
    {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    }
};
using clock_type = cpu_clock;

// Sentences of words built from syllables; word frequencies fall off as 1/rank.
bytes text_like(std::size_t n)
{
    std::mt19937 rng(1);
    const char* syllables[] = {"the", "an", "or", "qui", "ll", "moor", "ka", "ren", "to", "is", "sa", "de",
                               "ing", "er", "lo", "mi",  "st", "ar",   "on", "ve",  "ly", "th", "ea", "ou"};
    std::vector<std::string> words;
    for (int i = 0; i < 800; ++i) {
        std::string w;
        for (unsigned k = 0, parts = 1 + rng() % 3; k < parts; ++k)
            w += syllables[rng() % std::size(syllables)];
        words.push_back(w);
    }
    std::vector<double> weights;
    for (std::size_t i = 0; i < words.size(); ++i)
        weights.push_back(1.0 / double(i + 1));
    std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
    bytes out;
    bool capital = true;
    while (out.size() < n) {
        std::string w = words[pick(rng)];
        if (capital)
            w[0] = static_cast<char>(w[0] - 'a' + 'A');
        out.insert(out.end(), w.begin(), w.end());
        const unsigned r = rng() % 14;
        capital = r < 2;
        const char* sep = r == 0 ? ".\n" : r == 1 ? ". " : r == 2 ? ", " : " ";
        out.insert(out.end(), sep, sep + std::char_traits<char>::length(sep));
    }
    out.resize(n);
    return out;
}

bytes noise(std::size_t n, unsigned mask)
{
    std::mt19937 rng(2);
    bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng() & mask);
    return out;
}

double seconds_since(double start)
{
    return clock_type::now() - start;
}

void run(const char* name, const bytes& data)
{
    const auto n = static_cast<std::uint32_t>(data.size());
    const double mb = double(n) / 1e6;
    // Best of a few runs.
    double best_compress = INFINITY;
    std::optional<bytes> form;
    for (int i = 0; i < 3; ++i) {
        const auto start = clock_type::now();
        form = qm::cpk_compress(data);
        best_compress = std::min(best_compress, seconds_since(start));
    }
    std::printf("%-12s compress   %8.1f MB/s  (%u -> %s)\n", name, mb / best_compress, n,
                form ? std::to_string(form->size()).c_str() : "stored as is");
    if (!form)
        return;
    bytes out(n);
    double best_expand = INFINITY;
    for (int i = 0; i < 5; ++i) {
        const auto start = clock_type::now();
        qm::cpk_decompress(*form, out);
        best_expand = std::min(best_expand, seconds_since(start));
    }
    if (out != data) {
        std::printf("%-12s expand: MISMATCH\n", name);
        return;
    }
    std::printf("%-12s expand     %8.1f MB/s\n", name, mb / best_expand);
}

} // namespace

int main(int argc, char** argv)
{
    // An argument picks one data set by name.
    const std::string only = argc > 1 ? argv[1] : "";
    auto wanted = [&](const char* name) { return only.empty() || only == name; };
    const std::size_t mib = 1 << 20;
    if (wanted("text-like"))
        run("text-like", text_like(mib));
    if (wanted("random"))
        run("random", noise(mib, 0xFF));
    if (wanted("zeros"))
        run("zeros", bytes(mib, 0));
    if (wanted("four-values"))
        run("four-values", noise(mib, 0x03));
}
