// Packing and unpacking speed of the backward LZ codec on 1 MiB of zeros, random bytes, ARM-like
// code, and a two-letter text (the search's hardest case: many matches, none of the longest).
// Prints MB/s (of unpacked data) for each; best of a few runs.

#include "lz/nds_lz.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>

namespace {

using qm::bytes;
constexpr std::size_t size = 1 << 20;

// 32-bit ARM instruction words: a few register moves, loads and stores with small offsets,
// branches with link to nearby targets, and function prologues and epilogues that recur.
bytes arm_like(std::mt19937& rng)
{
    bytes out;
    auto word = [&](std::uint32_t w) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    };
    while (out.size() < size) {
        word(0xE92D4000u | (0x0F0u & (rng() << 4)) | (rng() % 16)); // push {..., lr}
        const int body = 4 + static_cast<int>(rng() % 24);
        for (int i = 0; i < body; ++i) {
            const std::uint32_t rd = rng() % 8, rn = rng() % 8, imm = (rng() % 16) * 4;
            switch (rng() % 5) {
            case 0:
                word(0xE1A00000u | (rd << 12) | rn);
                break; // mov rd, rn
            case 1:
                word(0xE5900000u | (rn << 16) | (rd << 12) | imm);
                break; // ldr rd, [rn, #imm]
            case 2:
                word(0xE5800000u | (rn << 16) | (rd << 12) | imm);
                break; // str rd, [rn, #imm]
            case 3:
                word(0xE2800000u | (rn << 16) | (rd << 12) | (rng() % 256));
                break; // add
            default:
                word(0xEB000000u | (rng() & 0x3FFu));
                break; // bl near
            }
        }
        word(0xE8BD8000u | (0x0F0u & (rng() << 4)) | (rng() % 16)); // pop {..., pc}
    }
    out.resize(size);
    return out;
}

double best_seconds(const std::function<void()>& f)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

void run(const char* name, const bytes& data)
{
    const double mb = static_cast<double>(data.size()) / 1e6;
    bytes packed;
    try {
        packed = qm::nds_lz_comp(data);
    } catch (const std::runtime_error& e) {
        const double t = best_seconds([&] {
            try {
                qm::nds_lz_comp(data);
            } catch (const std::runtime_error&) {
            }
        });
        std::printf("%-10s pack %8.1f MB/s  (fails: %s)\n", name, mb / t, e.what());
        return;
    }
    const double tp = best_seconds([&] { packed = qm::nds_lz_comp(data); });
    bytes unpacked;
    const double tu = best_seconds([&] { unpacked = qm::nds_lz_inplace_decomp(packed); });
    if (unpacked != data)
        throw std::runtime_error(std::string(name) + ": round trip mismatch");
    std::printf("%-10s pack %8.1f MB/s  unpack %8.1f MB/s  ratio %5.1f %%\n", name, mb / tp, mb / tu,
                100.0 * static_cast<double>(packed.size()) / static_cast<double>(data.size()));
}

} // namespace

int main()
{
    std::mt19937 rng(1);
    bytes random(size);
    for (auto& b : random)
        b = static_cast<std::uint8_t>(rng());
    bytes two_letters(size);
    for (auto& b : two_letters)
        b = rng() % 2 ? 'a' : 'b';

    run("zeros", bytes(size, 0));
    run("random", random);
    run("arm-like", arm_like(rng));
    run("ab-text", two_letters);
}
