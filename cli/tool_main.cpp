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
    os << "\nquillmoor-tool help COMMAND: a command's arguments, what it writes, its exit statuses and an "
          "example\n";
}

// Each line of `text` indented under a heading.
void print_block(std::ostream& os, const char* heading, const char* text)
{
    os << "\n" << heading << ":\n";
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        os << "  " << rest.substr(0, end) << "\n";
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
}

void print_command_help(std::ostream& os, const tool_command& c)
{
    os << "usage: quillmoor-tool " << c.name << " " << c.usage << "\n\n" << c.help << "\n";
    if (c.arguments)
        print_block(os, "arguments", c.arguments);
    if (c.writes)
        print_block(os, "writes", c.writes);
    print_block(os, "exit status",
                c.exits ? c.exits : "0 done, 1 error (the message on stderr), 2 bad usage");
    if (c.example)
        print_block(os, "example", c.example);
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
    const bool asks_help = name == "-h" || name == "--help" || name == "help";
    if (asks_help && argc == 2) {
        print_usage(std::cout);
        return 0;
    }
    if (asks_help && argc > 3) {
        std::cerr << "usage: quillmoor-tool help [COMMAND]\n";
        return 2;
    }
    if (asks_help)
        name = argv[2];
    const tool_command* cmd = find_command(name);
    if (!cmd) {
        std::cerr << "quillmoor-tool: unknown command '" << name << "'\n\n";
        print_usage(std::cerr);
        return 2;
    }
    args a(argv + 2, argv + argc);
    // "help COMMAND" and "COMMAND --help" show the command's page.
    if (asks_help || (a.size() == 1 && (a[0] == "--help" || a[0] == "-h"))) {
        print_command_help(std::cout, *cmd);
        return 0;
    }
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
