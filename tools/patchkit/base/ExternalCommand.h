#pragma once

#include <string>
#include <vector>

// Running another program (a signing tool) and waiting for it, the same way on every host.

// Splits a command line into words: blanks separate them; single or double quotes group a word and
// are removed. Nothing else is special, so Windows paths keep their backslashes. False when a quote
// is left open or there is no word.
bool SplitCommandLine(const std::string& line, std::vector<std::string>& words);

// Runs words[0], looked up on the search path, with the other words (UTF-8) as its arguments, and
// waits for it to end. Its standard output goes to our standard error, so that our own output
// (a JSON document, say) stays whole. False, with the reason, when it cannot be started; otherwise
// its exit code (on POSIX hosts 128 + the signal's number when a signal ended it).
bool RunCommand(const std::vector<std::string>& words, int& exitCode, std::string& problem);
