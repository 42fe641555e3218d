#pragma once
// The checks the front ends make before a patch run, in their order, with their French messages.

#include <filesystem>
#include <optional>
#include <string>

namespace qm::ui {

// What the checks need to know of the file system; the platform fills it in.
struct path_facts {
    bool source_queried = false; // the source's attributes could be read
    bool source_is_folder = false;
    bool destination_queried = false;
    bool destination_is_folder = false;
    bool same_file = false; // both open and are the same file (volume + file index, or device + inode)
};

// The first failing check's message, or nullopt when the run may start.
std::optional<std::string> first_path_error(const path_facts& facts);

// path_facts from this machine's file system (POSIX: stat; device and inode for the same-file test).
path_facts query_path_facts(const std::filesystem::path& source, const std::filesystem::path& destination);

} // namespace qm::ui
