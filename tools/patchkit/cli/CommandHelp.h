#pragma once

#include <CLI/CLI.hpp>

#include <string>

// Help and usage made from the options CLI11 holds, the one place a command's options are written
// down: a new option shows in its command's help and usage and in the program's list of commands.

// A command's help shows its usage (from its options), description and options; the program's
// help the usage of every command and the list of commands. Commands inherit the formatter when
// the program's is set before they are added.
class CommandHelp : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string name) const override;
};

// For a usage error: the usage of the command given (of every command when none was), and where
// to read on.
std::string UsageAfterError(const CLI::App& program);
