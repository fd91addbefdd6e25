#pragma once

#include <string>
#include <vector>

// Running a command line of the publisher's (a signing step as a pipeline writes it) as the
// platform runs one: through /bin/sh -c, or on Windows through cmd.exe. So &&, redirections,
// quotes and environment variables mean what they mean there.

// A placeholder in a command line and the text (UTF-8) that stands in for it.
struct CommandValue {
    std::string placeholder;
    std::string value;
};

// The value whose placeholder begins at line[at], or nullptr.
const CommandValue* PlaceholderAt(const std::string& line, std::size_t at,
                                  const std::vector<CommandValue>& values);

// The command line with each placeholder replaced by its value, quoted for the interpreter in the
// place it stands (bare, or inside the command's own quotes), so that the program receives the
// value exactly. False, with the reason, when the interpreter cannot be given it exactly there.
[[nodiscard]] bool FillCommandLine(const std::string& command,
                                   const std::vector<CommandValue>& values, std::string& line,
                                   std::string& problem);

// Runs the line (UTF-8) through the interpreter and waits for it to end. Its standard output goes
// to our standard error, so that our own output (a JSON document, say) stays whole. False, with
// the reason, when the interpreter cannot be started; otherwise the line's exit code (on POSIX
// hosts 128 + the signal's number when a signal ended it).
[[nodiscard]] bool RunCommandLine(const std::string& line, int& exitCode, std::string& problem);
