#pragma once
// The sample game and its patch, shared by the end-to-end tests: made once per test run by the
// CTest fixture (make-sample, make-patch, quillmoor-patch), or by the first test that needs them
// when the test program runs on its own.

#include "common/bytes.h"
#include "engine/patch_listener.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qm::test {

// The folder holding quillmoor.nds, quillmoor-fr.nds and patch.bin (size 1, seed 1).
const std::filesystem::path& sample_dir();
std::filesystem::path sample_original();
std::filesystem::path sample_translation();
const bytes& sample_patch(); // the packed archive make-patch made from the pair

// A fresh folder, removed with everything in it at the end of the test.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Records what the job reports; optionally asks for a cancel when a given section starts.
class recording_listener : public patch_listener {
public:
    std::function<void(std::uint32_t code)> on_section;
    std::uint32_t total = 0;
    std::vector<std::uint32_t> positions;
    bool finished_called = false;

    void opening_source() override {}
    void source_opened() override {}
    void initialising() override {}
    void set_total(std::uint32_t t) override { total = t; }
    void initialised() override {}
    void section_started(std::uint32_t code, const char*) override
    {
        if (on_section)
            on_section(code);
    }
    void set_position(std::uint32_t p) override { positions.push_back(p); }
    void finished() override { finished_called = true; }
};

// Runs a program and returns its exit status; its standard error goes to `err` when given.
int run_program(const std::vector<std::string>& argv, std::string* err = nullptr);

std::filesystem::path tool_binary();  // quillmoor-tool
std::filesystem::path patch_binary(); // quillmoor-patch

// Offset of a file's bytes in a ROM image (FAT start of `id`).
std::uint32_t file_offset(byte_span image, std::uint16_t id);

} // namespace qm::test

namespace qm::test {

// One record of a patch archive's index, read back for checks.
struct read_entry {
    std::uint32_t id, crc, type, blob;
};
struct read_record {
    std::uint32_t key;
    std::string path; // kind 6 records
    std::uint32_t patch_type;
    std::vector<read_entry> entries;     // type 1
    std::vector<std::uint32_t> appended; // type 1: blob numbers
};
struct read_archive {
    std::vector<bytes> blobs;
    std::uint32_t total_steps;
    std::vector<read_record> records;
};
read_archive read_patch(byte_span packed);

} // namespace qm::test
