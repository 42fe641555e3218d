#pragma once
// The subcommands of quillmoor-tool. Each group of commands lives in a tool_<group>.cpp file
// and is listed in tool_main.cpp.

#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm::cli {

// Thrown for a wrong number or form of arguments: the tool prints the usage and exits 2.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using args = std::vector<std::string>;

struct tool_command {
    const char* name;
    const char* usage;         // arguments, shown after the command name
    const char* help;          // one line
    int (*run)(const args& a); // a holds the arguments after the command name
    // For "quillmoor-tool help COMMAND", lines separated by '\n': what each argument is, what the
    // command writes, its exit statuses, an example.
    const char* arguments = nullptr;
    const char* writes = nullptr;
    const char* exits = nullptr; // nullptr: the usual 0, 1 and 2
    const char* example = nullptr;
};

// Throws usage_error unless the argument count lies in [lo, hi].
inline void expect_args(const args& a, std::size_t lo, std::size_t hi)
{
    if (a.size() < lo || a.size() > hi)
        throw usage_error("wrong number of arguments");
}

// Parses a decimal or 0x-prefixed unsigned number, or throws usage_error.
std::uint64_t parse_number(const std::string& s);

// One function per group of commands (tool_<group>.cpp).
std::span<const tool_command> archive_tool_commands();
std::span<const tool_command> lz_tool_commands();
std::span<const tool_command> font_tool_commands();
std::span<const tool_command> vcdiff_tool_commands();
std::span<const tool_command> cpk_tool_commands();
std::span<const tool_command> rom_tool_commands();
std::span<const tool_command> sample_tool_commands();

} // namespace qm::cli
