#pragma once
// The sample game and its patch, shared by the end-to-end tests: made once per test run by the
// CTest fixture (make-sample, make-patch, quillmoor-patch) that every test of the program requires.

#include "common/bytes.h"

#include <filesystem>
#include <string>
#include <vector>

namespace qm::test {

// The folder holding quillmoor.nds, quillmoor-fr.nds, patch.bin and its card (size 1, seed 1).
const std::filesystem::path& sample_dir();
std::filesystem::path sample_original();
std::filesystem::path sample_translation();
const bytes& sample_patch(); // the packed archive make-patch made from the pair

// A fresh folder, removed with everything in it at the end of the test.
struct scratch_dir {
    scratch_dir();
    ~scratch_dir();
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    std::filesystem::path path;
};

// Runs a program (quillmoor-tool or quillmoor-patch, then its arguments) and returns its exit
// status; its standard error goes to `err`, followed by its standard output when asked.
int run_program(const char* program, const std::vector<std::filesystem::path>& args, std::string& err,
                bool with_stdout = false);

} // namespace qm::test
