#pragma once

#include <CLI/CLI.hpp>

#include <string>

// The page command: a release index turned into the players' download page. Adds it to the
// program's command line and runs it when given.
class PageCommand {
public:
    explicit PageCommand(CLI::App& app);

    bool Knows(const std::string& name) const;
    bool Parsed() const;
    // The process's exit code.
    int Run() const;

private:
    CLI::App* m_page = nullptr;
    std::string m_index;
    std::string m_output;
    std::string m_language = "zh";
    bool m_noTime = false;
};
