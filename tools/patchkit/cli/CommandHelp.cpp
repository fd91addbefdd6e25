#include "cli/CommandHelp.h"

#include <algorithm>
#include <vector>

namespace {

const std::string kLabel = "usage: ";
const std::string kLabelBlank(kLabel.size(), ' ');
// Usage lines are broken before an item that would reach past this column.
constexpr std::size_t kWidth = 100;

bool IsAboutTheProgram(const CLI::App& command, const CLI::Option* option) {
    return option == command.get_help_ptr() || option == command.get_help_all_ptr() ||
           option == command.get_version_ptr();
}

// "--stub STUB.exe", "-o OUT.exe", "--quiet", "PACKAGE.exe", "--manifest MANIFEST.json..."
std::string ItemOf(const CLI::Option& option) {
    std::string text;
    if (!option.get_snames().empty()) {
        text = "-" + option.get_snames().front();
    } else if (!option.get_lnames().empty()) {
        text = "--" + option.get_lnames().front();
    }
    // CLI11 adds what its checks want after a colon ("STUB.exe:FILE"); a flag has no type.
    const std::string type = option.get_type_name().substr(0, option.get_type_name().find(':'));
    if (!type.empty()) {
        const bool many =
            option.get_items_expected_max() > 1 &&
            type.compare(type.size() - std::min<std::size_t>(3, type.size()), 3, "...") != 0;
        text += (text.empty() ? "" : " ") + type + (many ? "..." : "");
    }
    return text;
}

// A group of options (CLI11 holds it as a nameless command): one of them, or any.
std::string ItemOf(const CLI::App& group) {
    std::string text;
    for (const CLI::Option* option : group.get_options()) {
        if (!IsAboutTheProgram(group, option)) {
            text += (text.empty() ? "" : " | ") + ItemOf(*option);
        }
    }
    return group.get_require_option_min() > 0 ? "(" + text + ")" : "[" + text + "]";
}

// Positionals, the options required, the groups, then the other options in brackets.
std::vector<std::string> UsageItems(const CLI::App& command) {
    std::vector<std::string> items;
    std::vector<std::string> optional;
    for (const bool positional : {true, false}) {
        for (const CLI::Option* option : command.get_options()) {
            if (option->get_positional() != positional || IsAboutTheProgram(command, option)) {
                continue;
            }
            if (option->get_required()) {
                items.push_back(ItemOf(*option));
            } else {
                (positional ? items : optional).push_back("[" + ItemOf(*option) + "]");
            }
        }
    }
    for (const CLI::App* group :
         command.get_subcommands([](const CLI::App* sub) { return sub->get_name().empty(); })) {
        items.push_back(ItemOf(*group));
    }
    items.insert(items.end(), optional.begin(), optional.end());
    return items;
}

// "patchkit build ITEM..." broken into lines before an item that would pass the width; the next
// lines start under the first item.
std::string CommandUsage(const std::string& name, const CLI::App& command) {
    const std::size_t indent = kLabel.size() + name.size() + 1;
    std::string text = name;
    std::size_t column = indent - 1;
    for (const std::string& item : UsageItems(command)) {
        if (column + 1 + item.size() > kWidth && column >= indent) {
            text += "\n" + std::string(indent - 1, ' ');
            column = indent - 1;
        }
        text += " " + item;
        column += 1 + item.size();
    }
    return text + "\n";
}

std::vector<const CLI::App*> CommandsOf(const CLI::App& program) {
    return program.get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty(); });
}

// Every command's usage, then how to ask for help.
std::string ProgramUsage(const std::string& name, const CLI::App& program) {
    std::string text;
    for (const CLI::App* command : CommandsOf(program)) {
        text += (text.empty() ? kLabel : kLabelBlank) +
                CommandUsage(name + " " + command->get_name(), *command);
    }
    return text + kLabelBlank + name + " [COMMAND] --help | --version\n";
}

} // namespace

std::string CommandHelp::make_usage(const CLI::App* app, std::string name) const {
    return CommandsOf(*app).empty() ? kLabel + CommandUsage(name, *app) : ProgramUsage(name, *app);
}

std::string UsageAfterError(const CLI::App& program) {
    const std::string name = program.get_name();
    const std::vector<CLI::App*> given = program.get_subcommands();
    if (given.empty()) {
        return ProgramUsage(name, program) + "'" + name + " COMMAND --help' tells more.\n";
    }
    const std::string command = name + " " + given.front()->get_name();
    return kLabel + CommandUsage(command, *given.front()) + "'" + command +
           " --help' tells more.\n";
}
