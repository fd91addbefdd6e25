#include "base/ExternalCommand.h"

// Process creation needs windows.h; this is the tool, not the engine.
#include <windows.h>

#include <filesystem>

namespace {

// One argument as the C runtime's parser (CommandLineToArgvW) reads it back.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes double only ahead of a quote, which itself is escaped.
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, L'\\'); // ahead of the closing quote
    return quoted + L'"';
}

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

} // namespace

bool RunCommand(const std::vector<std::string>& words, int& exitCode, std::string& problem) {
    std::wstring line;
    for (const std::string& word : words) {
        line += (line.empty() ? L"" : L" ") + Quoted(std::filesystem::u8path(word).wstring());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.hStdInput = InheritableCopy(STD_INPUT_HANDLE);
    startup.hStdError = InheritableCopy(STD_ERROR_HANDLE);
    startup.hStdOutput = InheritableCopy(STD_ERROR_HANDLE);
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    const std::string why = started ? "" : LastErrorText();
    for (const HANDLE handle : {startup.hStdInput, startup.hStdError, startup.hStdOutput}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
    if (!started) {
        problem = words[0] + ": cannot be started (" + why + ")";
        return false;
    }
    CloseHandle(process.hThread);
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &code);
    if (!ended) {
        problem = words[0] + ": cannot be waited for (" + LastErrorText() + ")";
    }
    CloseHandle(process.hProcess);
    exitCode = static_cast<int>(code);
    return ended;
}
