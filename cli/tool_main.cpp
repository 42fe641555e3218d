// quillmoor-tool: the toolkit for translators and ROM hackers.
// Exit status: 0 success, 1 error (message on stderr), 2 bad usage, or what a command returns.

#include "cli/tool_command.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string_view>
#include <vector>

namespace qm::cli {

std::uint64_t parse_number(const std::string& s)
{
    if (s.empty())
        throw usage_error("empty number");
    std::size_t pos = 0;
    unsigned long long v = 0;
    try {
        v = std::stoull(s, &pos, 0);
    } catch (const std::exception&) {
        throw usage_error("not a number: " + s);
    }
    if (pos != s.size() || s[0] == '-')
        throw usage_error("not a number: " + s);
    return v;
}

namespace {

using group = std::span<const tool_command> (*)();
// One line per group of commands.
const std::vector<group> groups = {
    lz_tool_commands,  font_tool_commands, archive_tool_commands, vcdiff_tool_commands,
    cpk_tool_commands, rom_tool_commands,  sample_tool_commands,
};

const tool_command* find_command(std::string_view name)
{
    for (group g : groups)
        for (const tool_command& c : g())
            if (name == c.name)
                return &c;
    return nullptr;
}

void print_usage(std::ostream& os)
{
    os << "usage: quillmoor-tool COMMAND [ARGS...]\n\ncommands:\n";
    for (group g : groups)
        for (const tool_command& c : g()) {
            std::string line = std::string("  ") + c.name + " " + c.usage;
            if (line.size() < 44)
                line.resize(44, ' ');
            else
                line += "  ";
            os << line << c.help << "\n";
        }
}

} // namespace
} // namespace qm::cli

int main(int argc, char** argv)
{
    using namespace qm::cli;
    if (argc < 2) {
        print_usage(std::cerr);
        return 2;
    }
    std::string_view name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        print_usage(std::cout);
        return 0;
    }
    const tool_command* cmd = find_command(name);
    if (!cmd) {
        std::cerr << "quillmoor-tool: unknown command '" << name << "'\n\n";
        print_usage(std::cerr);
        return 2;
    }
    args a(argv + 2, argv + argc);
    try {
        return cmd->run(a);
    } catch (const usage_error& e) {
        std::cerr << "quillmoor-tool " << cmd->name << ": " << e.what() << "\nusage: quillmoor-tool "
                  << cmd->name << " " << cmd->usage << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "quillmoor-tool " << cmd->name << ": " << e.what() << "\n";
        return 1;
    }
}
