#include "base/ExternalCommand.h"

// Process creation needs windows.h; this is the tool, not the engine.
#include <windows.h>

#include <filesystem>

namespace {

// An inheritable copy of one of our standard handles, or nullptr when there is none.
HANDLE InheritableCopy(DWORD standardHandle) {
    const HANDLE handle = GetStdHandle(standardHandle);
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

std::string LastErrorText() {
    return "error " + std::to_string(GetLastError());
}

// The value as one argument, in quotes where the command has none around it: inside quotes cmd
// takes every character as it is (delayed expansion, the one of !, is off) but %, and the
// program's argument parser keeps the value whole. Backslashes ahead of a closing quote that is
// ours double, or they would escape it.
std::string Quoted(const std::string& value, bool insideQuotes) {
    if (insideQuotes) {
        return value;
    }
    const std::size_t kept = value.find_last_not_of('\\') + 1;
    return '"' + value + value.substr(kept) + '"';
}

// No quote can be passed, and no %: cmd expands %NAME% inside quotes too, and no escape stops it
// everywhere (Wine's cmd expands it even behind carets and again in a variable's value). No
// Windows path holds a quote; a path with % is refused, naming it.
bool Expressible(const std::string& value, std::string& problem) {
    if (value.find_first_of("%\"") == std::string::npos) {
        return true;
    }
    problem = value + ": cmd would read the % in it as a variable: choose a path without %";
    return false;
}

} // namespace

bool FillCommandLine(const std::string& command, const std::vector<CommandValue>& values,
                     std::string& line, std::string& problem) {
    line.clear();
    bool quoted = false;
    for (std::size_t at = 0; at < command.size();) {
        if (const CommandValue* value = PlaceholderAt(command, at, values)) {
            if (!Expressible(value->value, problem)) {
                return false;
            }
            line += Quoted(value->value, quoted);
            at += value->placeholder.size();
            continue;
        }
        const char c = command[at++];
        line += c;
        if (c == '^' && !quoted && at < command.size()) {
            line += command[at++]; // escaped: neither a quote nor the start of a placeholder
        } else if (c == '"') {
            quoted = !quoted;
        }
    }
    return true;
}

bool RunCommandLine(const std::string& line, int& exitCode, std::string& problem) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        problem = "cmd.exe cannot be found (" + LastErrorText() + ")";
        return false;
    }
    // The system's own cmd.exe, never one in the current folder. /d: no AutoRun commands; /v:off:
    // ! is plain text; /s: only the quotes put around the line here are taken off it.
    const std::wstring interpreter = std::wstring(folder, length) + L"\\cmd.exe";
    std::wstring commandLine = L"\"" + interpreter + L"\" /d /v:off /s /c \"" +
                               std::filesystem::u8path(line).wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.hStdInput = InheritableCopy(STD_INPUT_HANDLE);
    startup.hStdError = InheritableCopy(STD_ERROR_HANDLE);
    startup.hStdOutput = InheritableCopy(STD_ERROR_HANDLE);
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(interpreter.c_str(), &commandLine[0], nullptr, nullptr,
                                        TRUE, 0, nullptr, nullptr, &startup, &process);
    const std::string why = started ? "" : LastErrorText();
    for (const HANDLE handle : {startup.hStdInput, startup.hStdError, startup.hStdOutput}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
    if (!started) {
        problem = "cmd.exe cannot be started (" + why + ")";
        return false;
    }
    CloseHandle(process.hThread);
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &code);
    if (!ended) {
        problem = "cmd.exe cannot be waited for (" + LastErrorText() + ")";
    }
    CloseHandle(process.hProcess);
    exitCode = static_cast<int>(code);
    return ended;
}
