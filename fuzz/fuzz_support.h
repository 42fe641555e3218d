#pragma once
// Helpers shared by the libFuzzer targets: cutting one input into parts, a failed property that
// the fuzzer reports as a crash, and files for the code that reads and writes paths.

#include "common/bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace qm::fuzz {

// Reads the input front to back; running short yields zeros and empty spans, never an error,
// so that every input means something.
class input_reader {
public:
    input_reader(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

    std::uint8_t u8()
    {
        if (rest_.empty())
            return 0;
        const std::uint8_t v = rest_[0];
        rest_ = rest_.subspan(1);
        return v;
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16() | (std::uint32_t{u16()} << 16)); }

    // Up to n bytes.
    byte_span take(std::size_t n)
    {
        const byte_span part = rest_.first(std::min(n, rest_.size()));
        rest_ = rest_.subspan(part.size());
        return part;
    }
    // A part announced by a 16-bit length.
    byte_span part() { return take(u16()); }
    byte_span rest() { return take(rest_.size()); }

private:
    byte_span rest_;
};

// The first n bytes of s repeated.
inline bytes repeated(const std::string& s, std::size_t n)
{
    bytes out;
    while (out.size() < n)
        out.insert(out.end(), s.begin(), s.end());
    out.resize(n);
    return out;
}

// Path lookups walk the whole FNT each time; a target looks up this many files at most, so that
// one input cannot take quadratic time.
constexpr std::size_t max_lookups = 64;

// A broken property: the fuzzer sees the abort as a crash and keeps the input.
[[noreturn]] inline void property_failed(const char* what)
{
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

inline void expect(bool holds, const char* what)
{
    if (!holds)
        property_failed(what);
}

// Runs f and tells whether it completed. A refusal with a message (std::runtime_error) is a fine
// outcome for bad input; a bounds_error is not: it means a check before some access was missing,
// and is reported as a crash.
template <class F> bool attempt(F&& f)
{
    try {
        f();
        return true;
    } catch (const bounds_error& e) {
        std::fprintf(stderr, "unchecked access: %s\n", e.what());
        std::abort();
    } catch (const std::runtime_error&) {
        return false;
    }
}

// The bytes as an open in-memory file, named by a path that the stream classes can open.
class memory_file {
public:
    explicit memory_file(byte_span data);
    ~memory_file();
    memory_file(const memory_file&) = delete;
    memory_file& operator=(const memory_file&) = delete;
    const std::filesystem::path& path() const noexcept { return path_; }

private:
    int fd_ = -1;
    std::filesystem::path path_;
};

// A folder of this process for files that a target writes, on a memory file system when there
// is one; created on first use and emptied by clear().
const std::filesystem::path& scratch_dir();
void clear_scratch_dir();

} // namespace qm::fuzz
