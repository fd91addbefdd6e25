// Drives the real updater from inside Wine the way a player would, and checks what it shows.
//
//   UpdaterDriver.exe STEP [ARG...] [STEP [ARG...]]...
//
// Steps run in order; the first that fails prints "FAIL" with what it saw, ends the updater and
// makes the driver exit with 1. Waiting steps poll until their condition holds or a time-out.
//
//   acp                      print the ANSI code page as "acp=N"
//   reg-path VALUE           HKLM\SOFTWARE\hvrk value Path in the 32-bit registry view, where the
//                            game's 32-bit installer writes it
//   reg-path-unterminated V  the same value stored without its terminating NUL
//   reg-path-64bit-view V    the same value in the 64-bit registry view
//   reg-clear                delete that key in both views
//   hold-mutex NAME          create and own a named mutex until the driver ends
//   hold-file PATH           open a file without write sharing until the driver ends
//   release-files            close every file held so far
//   start EXE                start the updater
//   dialog                   wait for the progress dialog; fails if a message box comes first
//   no-dialog                the updater shows no progress dialog
//   text ID EXPECTED         wait until dialog control ID shows EXPECTED
//   progress N               wait until the progress bar stands at N
//   finish 0|1               wait until the finish button is disabled / enabled
//   box CAPTION TEXT         wait for a message box of the updater with that caption and text
//   box-within MS CAPTION TEXT  the same, within MS milliseconds of the previous step's end
//   ok                       press OK on that message box
//   browser TITLE            wait for the folder browser showing TITLE
//   browser-cancel           press Cancel in the folder browser
//   browser-ok               press OK in the folder browser (on the item it has selected)
//   command ID               post WM_COMMAND ID to the dialog
//   key VK                   press and release a key in the dialog
//   close                    click the dialog's close box
//   minimize                 minimise the dialog
//   click-finish             click the finish button
//   sleep MS                 wait
//   rect                     print the dialog's screen rectangle as "rect=WxH+X+Y"
//   signal PATH              create an empty file, to tell a script a point was reached
//   wait-file PATH           wait until a script creates the file
//   alive                    the updater is still running and its dialog still there
//   exit CODE                wait for the updater to end, with exit code CODE
//   exit-within MS CODE      the same, within MS milliseconds of the previous step's end
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kDialogTitle = L"雾岭纪元手动更新";
constexpr const wchar_t* kDialogClass = L"#32770";
constexpr const wchar_t* kInstallPathKey = L"SOFTWARE\\hvrk";
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kFinishButtonId = 1004;
constexpr int kProgressId = 1006;
constexpr ULONGLONG kWaitTimeoutMs = 30000;
constexpr DWORD kPollIntervalMs = 10;

std::string Utf8(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size - 1));
    return result;
}

void Print(const std::wstring& line) {
    const std::string bytes = Utf8(line + L"\n");
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, static_cast<int>(std::size(text)));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM search) {
    auto* windows = reinterpret_cast<WindowSearch*>(search);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == windows->processId && IsWindowVisible(window) && ClassName(window) == kDialogClass)
        windows->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK FindTreeView(HWND child, LPARAM found) {
    if (ClassName(child) == WC_TREEVIEWW) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

bool IsFolderBrowser(HWND window) {
    bool found = false;
    EnumChildWindows(window, FindTreeView, reinterpret_cast<LPARAM>(&found));
    return found;
}

struct StaticTextSearch {
    const std::wstring* text;
    bool found;
};

BOOL CALLBACK FindStaticText(HWND child, LPARAM search) {
    auto* wanted = reinterpret_cast<StaticTextSearch*>(search);
    if (WindowText(child) == *wanted->text) {
        wanted->found = true;
        return FALSE;
    }
    return TRUE;
}

enum class WindowKind { Dialog, Browser, MessageBox };

WindowKind KindOf(HWND window) {
    if (WindowText(window) == kDialogTitle)
        return WindowKind::Dialog;
    return IsFolderBrowser(window) ? WindowKind::Browser : WindowKind::MessageBox;
}

class Driver {
public:
    int Run(int argc, wchar_t** argv);

private:
    // Each step takes its arguments and returns false after printing why it failed.
    bool Step(const std::wstring& verb);
    bool PrintCodePage();
    bool SetRegistryPath();
    bool SetUnterminatedRegistryPath();
    bool Set64BitViewRegistryPath();
    bool WriteRegistryPath(REGSAM view, bool terminated);
    bool ClearRegistryPath();
    bool HoldMutex();
    bool HoldFile();
    bool ReleaseFiles();
    bool StartUpdater();
    bool WaitForDialog();
    bool ExpectNoDialog();
    bool WaitForText();
    bool WaitForProgress();
    bool WaitForFinishButton();
    bool WaitForBox();
    bool WaitForBoxWithin();
    bool PressOk();
    bool WaitForBrowser();
    bool PressBrowserOk();
    bool PressBrowserCancel();
    bool PostCommand();
    bool PressKey();
    bool ClickCloseBox();
    bool Minimize();
    bool ClickFinish();
    bool SleepFor();
    bool PrintDialogRectangle();
    bool Signal();
    bool WaitForFile();
    bool ExpectAlive();
    bool WaitForExit();
    bool WaitForExitWithin();

    bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const std::wstring& what);
    const wchar_t* NextArgument();
    int NextNumber();

    HWND FindWindowOfKind(WindowKind kind);
    bool WaitFor(const std::wstring& what, bool (Driver::*condition)(std::wstring& seen));
    bool Fail(const std::wstring& why);
    bool ProcessEnded() const { return WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0; }
    int ProgressPosition();

    bool DialogShown(std::wstring& seen);
    bool ControlTextMatches(std::wstring& seen);
    bool ProgressMatches(std::wstring& seen);
    bool FinishMatches(std::wstring& seen);
    bool BoxShown(std::wstring& seen);
    bool BrowserShown(std::wstring& seen);
    bool Exited(std::wstring& seen);
    bool FileExists(std::wstring& seen);
    bool Minimized(std::wstring& seen);

    int m_argc = 0;
    wchar_t** m_argv = nullptr;
    int m_next = 1;
    HANDLE m_process = nullptr;
    DWORD m_processId = 0;
    HWND m_dialog = nullptr;
    HWND m_box = nullptr;
    HWND m_browser = nullptr;
    std::vector<HANDLE> m_held;
    std::vector<HANDLE> m_heldFiles;
    ULONGLONG m_previousStepEnd = 0;
    // Expectations of the waiting step in progress.
    int m_controlId = 0;
    std::wstring m_expectedText;
    std::wstring m_expectedCaption;
    int m_expectedNumber = 0;
};

const wchar_t* Driver::NextArgument() {
    return m_next < m_argc ? m_argv[m_next++] : L"";
}

int Driver::NextNumber() {
    return static_cast<int>(std::wcstol(NextArgument(), nullptr, 0));
}

bool Driver::Fail(const std::wstring& why) {
    Print(L"FAIL: " + why);
    return false;
}

HWND Driver::FindWindowOfKind(WindowKind kind) {
    WindowSearch search{m_processId, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    for (HWND window : search.found) {
        if (KindOf(window) == kind)
            return window;
    }
    return nullptr;
}

bool Driver::WaitFor(const std::wstring& what, bool (Driver::*condition)(std::wstring& seen)) {
    const ULONGLONG deadline = GetTickCount64() + kWaitTimeoutMs;
    std::wstring seen;
    while (GetTickCount64() < deadline) {
        seen.clear();
        if ((this->*condition)(seen))
            return true;
        if (!seen.empty() && seen.front() == L'!')
            return Fail(what + L": " + seen.substr(1));
        Sleep(kPollIntervalMs);
    }
    return Fail(what + L": timed out, last seen " + (seen.empty() ? L"nothing" : seen));
}

int Driver::ProgressPosition() {
    DWORD_PTR position = 0;
    HWND progress = GetDlgItem(m_dialog, kProgressId);
    if (!SendMessageTimeoutW(progress, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position))
        return -1;
    return static_cast<int>(position);
}

// A '!' in front of what was seen ends the wait at once.
// The dialog is looked for first: the worker's box may already follow it, while start-up's
// notices never stand beside it.
bool Driver::DialogShown(std::wstring& seen) {
    m_dialog = FindWindowOfKind(WindowKind::Dialog);
    if (m_dialog != nullptr)
        return true;
    if (HWND box = FindWindowOfKind(WindowKind::MessageBox)) {
        seen = L"!message box before the dialog: " + WindowText(box) + L" / " +
               WindowText(GetDlgItem(box, kMessageBoxTextId));
    } else if (ProcessEnded()) {
        seen = L"!the updater ended";
    }
    return false;
}

bool Driver::ControlTextMatches(std::wstring& seen) {
    seen = WindowText(GetDlgItem(m_dialog, m_controlId));
    return seen == m_expectedText;
}

bool Driver::ProgressMatches(std::wstring& seen) {
    const int position = ProgressPosition();
    seen = std::to_wstring(position);
    return position == m_expectedNumber;
}

bool Driver::FinishMatches(std::wstring& seen) {
    const bool enabled = IsWindowEnabled(GetDlgItem(m_dialog, kFinishButtonId)) != FALSE;
    seen = enabled ? L"enabled" : L"disabled";
    return enabled == (m_expectedNumber != 0);
}

bool Driver::BoxShown(std::wstring& seen) {
    m_box = FindWindowOfKind(WindowKind::MessageBox);
    if (m_box == nullptr) {
        if (ProcessEnded())
            seen = L"!the updater ended";
        return false;
    }
    const std::wstring caption = WindowText(m_box);
    const std::wstring text = WindowText(GetDlgItem(m_box, kMessageBoxTextId));
    seen = caption + L" / " + text;
    return caption == m_expectedCaption && text == m_expectedText;
}

bool Driver::BrowserShown(std::wstring& seen) {
    m_browser = FindWindowOfKind(WindowKind::Browser);
    if (m_browser == nullptr)
        return false;
    StaticTextSearch search{&m_expectedText, false};
    EnumChildWindows(m_browser, FindStaticText, reinterpret_cast<LPARAM>(&search));
    seen = L"a browser without that title";
    return search.found;
}

bool Driver::Exited(std::wstring& seen) {
    DWORD exitCode = STILL_ACTIVE;
    if (!ProcessEnded())
        return false;
    GetExitCodeProcess(m_process, &exitCode);
    seen = L"!exit code " + std::to_wstring(exitCode);
    return static_cast<int>(exitCode) == m_expectedNumber;
}

bool Driver::FileExists(std::wstring& /*seen*/) {
    return GetFileAttributesW(m_expectedText.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Driver::Minimized(std::wstring& /*seen*/) {
    return IsIconic(m_dialog) != FALSE;
}

bool Driver::Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                  const std::wstring& what) {
    return PostMessageW(window, message, wParam, lParam) != FALSE || Fail(L"cannot " + what);
}

bool Driver::PrintCodePage() {
    Print(L"acp=" + std::to_wstring(GetACP()));
    return true;
}

bool Driver::WriteRegistryPath(REGSAM view, bool terminated) {
    const std::wstring value = NextArgument();
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallPathKey, 0, nullptr, 0, KEY_WRITE | view,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return Fail(L"cannot create the registry key");
    const std::size_t characters = value.size() + (terminated ? 1 : 0);
    const LONG result =
        RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(characters * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS || Fail(L"cannot write the registry value");
}

bool Driver::SetRegistryPath() {
    return WriteRegistryPath(KEY_WOW64_32KEY, true);
}

bool Driver::SetUnterminatedRegistryPath() {
    return WriteRegistryPath(KEY_WOW64_32KEY, false);
}

bool Driver::Set64BitViewRegistryPath() {
    return WriteRegistryPath(KEY_WOW64_64KEY, true);
}

bool Driver::ClearRegistryPath() {
    for (const REGSAM view : {REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) {
        const LONG result = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInstallPathKey, view, 0);
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            return Fail(L"cannot delete the registry key");
    }
    return true;
}

bool Driver::HoldMutex() {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, NextArgument());
    if (mutex == nullptr)
        return Fail(L"cannot create the mutex");
    m_held.push_back(mutex);
    return true;
}

bool Driver::HoldFile() {
    HANDLE file = CreateFileW(NextArgument(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(L"cannot open the file to hold");
    m_heldFiles.push_back(file);
    return true;
}

bool Driver::ReleaseFiles() {
    for (HANDLE file : m_heldFiles)
        CloseHandle(file);
    m_heldFiles.clear();
    return true;
}

bool Driver::StartUpdater() {
    std::wstring commandLine = L"\"" + std::wstring(NextArgument()) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return Fail(L"cannot start " + commandLine);
    CloseHandle(process.hThread);
    m_process = process.hProcess;
    m_processId = process.dwProcessId;
    return true;
}

bool Driver::WaitForDialog() {
    return WaitFor(L"dialog", &Driver::DialogShown);
}

bool Driver::ExpectNoDialog() {
    return FindWindowOfKind(WindowKind::Dialog) == nullptr || Fail(L"a dialog is shown");
}

bool Driver::WaitForText() {
    m_controlId = NextNumber();
    m_expectedText = NextArgument();
    return WaitFor(L"text of " + std::to_wstring(m_controlId), &Driver::ControlTextMatches);
}

bool Driver::WaitForProgress() {
    m_expectedNumber = NextNumber();
    return WaitFor(L"progress", &Driver::ProgressMatches);
}

bool Driver::WaitForFinishButton() {
    m_expectedNumber = NextNumber();
    return WaitFor(L"finish button", &Driver::FinishMatches);
}

bool Driver::WaitForBox() {
    m_expectedCaption = NextArgument();
    m_expectedText = NextArgument();
    return WaitFor(L"message box", &Driver::BoxShown);
}

bool Driver::WaitForBoxWithin() {
    const auto limit = static_cast<ULONGLONG>(NextNumber());
    if (!WaitForBox())
        return false;
    const ULONGLONG took = GetTickCount64() - m_previousStepEnd;
    Print(L"box after " + std::to_wstring(took) + L" ms");
    return took <= limit || Fail(L"took longer than " + std::to_wstring(limit) + L" ms");
}

bool Driver::PressOk() {
    return Post(m_box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0, L"press OK");
}

bool Driver::WaitForBrowser() {
    m_expectedText = NextArgument();
    return WaitFor(L"folder browser", &Driver::BrowserShown);
}

bool Driver::PressBrowserOk() {
    return Post(m_browser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0, L"press OK");
}

bool Driver::PressBrowserCancel() {
    return Post(m_browser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0, L"press Cancel");
}

bool Driver::PostCommand() {
    return Post(m_dialog, WM_COMMAND, static_cast<WPARAM>(NextNumber()), 0, L"send the command");
}

bool Driver::PressKey() {
    const auto key = static_cast<WPARAM>(NextNumber());
    return Post(m_dialog, WM_KEYDOWN, key, 1, L"press the key") &&
           Post(m_dialog, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u), L"release the key");
}

bool Driver::ClickCloseBox() {
    return Post(m_dialog, WM_SYSCOMMAND, SC_CLOSE, 0, L"close the dialog");
}

bool Driver::Minimize() {
    ShowWindowAsync(m_dialog, SW_MINIMIZE);
    return WaitFor(L"minimised dialog", &Driver::Minimized);
}

bool Driver::ClickFinish() {
    HWND finish = GetDlgItem(m_dialog, kFinishButtonId);
    if (!IsWindowEnabled(finish))
        return Fail(L"the finish button is disabled");
    return Post(m_dialog, WM_COMMAND, MAKEWPARAM(kFinishButtonId, BN_CLICKED),
                reinterpret_cast<LPARAM>(finish), L"click the finish button");
}

bool Driver::SleepFor() {
    Sleep(static_cast<DWORD>(NextNumber()));
    return true;
}

bool Driver::PrintDialogRectangle() {
    RECT rect;
    if (!GetWindowRect(m_dialog, &rect))
        return Fail(L"no dialog");
    Print(L"rect=" + std::to_wstring(rect.right - rect.left) + L"x" +
          std::to_wstring(rect.bottom - rect.top) + L"+" + std::to_wstring(rect.left) + L"+" +
          std::to_wstring(rect.top));
    return true;
}

bool Driver::Signal() {
    HANDLE file = CreateFileW(NextArgument(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(L"cannot create the signal file");
    CloseHandle(file);
    return true;
}

bool Driver::WaitForFile() {
    m_expectedText = NextArgument();
    return WaitFor(L"file " + m_expectedText, &Driver::FileExists);
}

bool Driver::ExpectAlive() {
    if (ProcessEnded())
        return Fail(L"the updater ended");
    return IsWindow(m_dialog) || Fail(L"the dialog is gone");
}

bool Driver::WaitForExit() {
    m_expectedNumber = NextNumber();
    if (!WaitFor(L"exit", &Driver::Exited))
        return false;
    Print(L"exited after " + std::to_wstring(GetTickCount64() - m_previousStepEnd) + L" ms");
    return true;
}

bool Driver::WaitForExitWithin() {
    const auto limit = static_cast<ULONGLONG>(NextNumber());
    if (!WaitForExit())
        return false;
    return GetTickCount64() - m_previousStepEnd <= limit ||
           Fail(L"took longer than " + std::to_wstring(limit) + L" ms");
}

bool Driver::Step(const std::wstring& verb) {
    struct StepEntry {
        const wchar_t* verb;
        bool (Driver::*run)();
    };
    static const StepEntry steps[] = {
        {L"acp", &Driver::PrintCodePage},
        {L"reg-path", &Driver::SetRegistryPath},
        {L"reg-path-unterminated", &Driver::SetUnterminatedRegistryPath},
        {L"reg-path-64bit-view", &Driver::Set64BitViewRegistryPath},
        {L"reg-clear", &Driver::ClearRegistryPath},
        {L"hold-mutex", &Driver::HoldMutex},
        {L"hold-file", &Driver::HoldFile},
        {L"release-files", &Driver::ReleaseFiles},
        {L"start", &Driver::StartUpdater},
        {L"dialog", &Driver::WaitForDialog},
        {L"no-dialog", &Driver::ExpectNoDialog},
        {L"text", &Driver::WaitForText},
        {L"progress", &Driver::WaitForProgress},
        {L"finish", &Driver::WaitForFinishButton},
        {L"box", &Driver::WaitForBox},
        {L"box-within", &Driver::WaitForBoxWithin},
        {L"ok", &Driver::PressOk},
        {L"browser", &Driver::WaitForBrowser},
        {L"browser-ok", &Driver::PressBrowserOk},
        {L"browser-cancel", &Driver::PressBrowserCancel},
        {L"command", &Driver::PostCommand},
        {L"key", &Driver::PressKey},
        {L"close", &Driver::ClickCloseBox},
        {L"minimize", &Driver::Minimize},
        {L"click-finish", &Driver::ClickFinish},
        {L"sleep", &Driver::SleepFor},
        {L"rect", &Driver::PrintDialogRectangle},
        {L"signal", &Driver::Signal},
        {L"wait-file", &Driver::WaitForFile},
        {L"alive", &Driver::ExpectAlive},
        {L"exit", &Driver::WaitForExit},
        {L"exit-within", &Driver::WaitForExitWithin},
    };
    for (const StepEntry& step : steps) {
        if (verb == step.verb)
            return (this->*step.run)();
    }
    return Fail(L"unknown step " + verb);
}

int Driver::Run(int argc, wchar_t** argv) {
    m_argc = argc;
    m_argv = argv;
    m_previousStepEnd = GetTickCount64();
    bool passed = true;
    while (passed && m_next < m_argc) {
        const std::wstring verb = NextArgument();
        passed = Step(verb);
        if (!passed)
            Print(L"in step " + verb);
        m_previousStepEnd = GetTickCount64();
    }
    if (m_process != nullptr && !ProcessEnded()) {
        if (passed)
            passed = Fail(L"the updater is still running after the last step");
        TerminateProcess(m_process, 99);
    }
    for (HANDLE handle : m_held)
        CloseHandle(handle);
    ReleaseFiles();
    Print(passed ? L"PASS" : L"FAILED");
    return passed ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Driver driver;
    return driver.Run(argc, argv);
}
