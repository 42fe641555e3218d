#pragma once
// Whole-file reads and writes for the toolkit and the tests (the engine streams its ROMs instead).

#include "common/bytes.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace qm {

inline bytes read_whole_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("can't open " + path.string());
    in.exceptions(std::ios::badbit);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_whole_file(const std::filesystem::path& path, byte_span data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("can't create " + path.string());
    out.exceptions(std::ios::failbit | std::ios::badbit);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
}

} // namespace qm
