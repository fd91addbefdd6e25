#include "WineSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace {

constexpr int kDriverTimeoutSeconds = 120;
constexpr int kPrefixTimeoutSeconds = 180;
constexpr int kHostCheckTimeoutSeconds = 30;

// Code page 936 from the locale. A home of its own keeps the prefix's Desktop (the folder
// browser's first choice) off the real home.
void SetWineEnvironment(const std::filesystem::path& prefix, const std::filesystem::path& home,
                        const std::string& display) {
    setenv("HOME", home.c_str(), 1);
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("LC_ALL", "zh_CN.UTF-8", 1);
    setenv("DISPLAY", display.c_str(), 1);
}

// No window manager runs here: unmanaged windows close without Wine's two-second wait. A crash
// ends the process instead of waiting in a crash dialog.
constexpr const char* kPrefixSettings = "REGEDIT4\n\n"
                                        "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"
                                        "\"Managed\"=\"N\"\n\n"
                                        "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"
                                        "\"ShowCrashDialog\"=dword:00000000\n";

} // namespace

std::string WineSession::WindowsPath(const std::filesystem::path& path) const {
    const std::filesystem::path full = std::filesystem::absolute(path).lexically_normal();
    const std::filesystem::path inDriveC = full.lexically_relative(DriveC());
    const bool underDriveC = !inDriveC.empty() && *inDriveC.begin() != "..";
    std::string windows = underDriveC ? "C:/" + inDriveC.string() : "Z:" + full.string();
    for (char& c : windows) {
        if (c == '/')
            c = '\\';
    }
    return windows;
}

std::string WineSession::StartDisplay() {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
        m_display = display;
        return {};
    }
    // Xvfb picks a free display number itself and writes it to the pipe.
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return "cannot make a pipe for Xvfb";
    const pid_t pid = fork();
    if (pid < 0)
        return "cannot start Xvfb";
    if (pid == 0) {
        // Dies with this program, even when it is killed before it can stop the server.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(pipeEnds[0]);
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        const std::string fd = std::to_string(pipeEnds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    m_xvfbPid = pid;
    std::string number;
    char c;
    pollfd wait = {pipeEnds[0], POLLIN, 0};
    while (poll(&wait, 1, 10000) > 0 && read(pipeEnds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(pipeEnds[0]);
    if (number.empty())
        return "Xvfb did not report its display";
    m_display = ":" + number;
    return {};
}

WineSession::Result WineSession::CheckHost(const std::string& build) {
    return Run({QRT_WINE_HOST, "check", build}, kHostCheckTimeoutSeconds);
}

std::string WineSession::Start(const std::filesystem::path& workDirectory, const std::string& build,
                               const std::filesystem::path& driver) {
    m_build = build;
    m_driver = driver;
    m_prefix = workDirectory / "wine-prefix";
    m_home = workDirectory / "home";
    std::error_code error;
    for (const std::filesystem::path& old : {m_prefix, m_home}) {
        std::filesystem::remove_all(old, error);
        if (error)
            return "cannot remove " + old.string() + ": " + error.message();
    }
    for (const std::filesystem::path& fresh : {m_prefix, DesktopFolder()}) {
        std::filesystem::create_directories(fresh, error);
        if (error)
            return "cannot create " + fresh.string() + ": " + error.message();
    }
    if (std::string why = StartDisplay(); !why.empty())
        return why;
    SetWineEnvironment(m_prefix, m_home, m_display);

    // Kept alive between the driver runs, so each starts in a fraction of a second; it still ends
    // on its own should this program be killed before it can stop it.
    if (Run({"wineserver", "-p30"}, kPrefixTimeoutSeconds).exitCode != 0)
        return "wineserver -p30 failed";
    if (const Result prefix = Run({QRT_WINE_HOST, "prefix", m_build}, kPrefixTimeoutSeconds);
        prefix.exitCode != 0)
        return "cannot make the Wine prefix: " + prefix.output;
    const std::filesystem::path settings = workDirectory / "prefix-settings.reg";
    std::ofstream(settings) << kPrefixSettings;
    if (RunWine({"regedit", "/S", WindowsPath(settings)}, kPrefixTimeoutSeconds).exitCode != 0)
        return "cannot write the prefix settings";
    return {};
}

void WineSession::Stop() {
    if (!m_prefix.empty())
        Run({"wineserver", "-k"}, kPrefixTimeoutSeconds);
    if (m_xvfbPid > 0) {
        kill(m_xvfbPid, SIGTERM);
        waitpid(m_xvfbPid, nullptr, 0);
        m_xvfbPid = 0;
    }
}

WineSession::Result WineSession::RunDriver(const std::vector<std::string>& steps) const {
    std::vector<std::string> arguments = {WindowsPath(m_driver)};
    arguments.insert(arguments.end(), steps.begin(), steps.end());
    return RunWine(arguments, kDriverTimeoutSeconds);
}

WineSession::Result WineSession::RunWine(const std::vector<std::string>& arguments,
                                         int timeoutSeconds) const {
    std::vector<std::string> command = {QRT_WINE_HOST, "run", m_build};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return Run(command, timeoutSeconds);
}

// Runs the command with its output collected; past the time-out its process group is killed.
// Wine's server and the programs a run starts may keep the output pipe open after the command
// itself has ended, so the end of the command, not the end of the pipe, ends the wait.
WineSession::Result WineSession::Run(const std::vector<std::string>& command, int timeoutSeconds) {
    Result result;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return result;
    const pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        setpgid(0, 0);
        close(pipeEnds[0]);
        dup2(pipeEnds[1], STDOUT_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[1]);
        std::vector<char*> argv;
        for (const std::string& argument : command)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    auto drain = [&] {
        char buffer[4096];
        ssize_t got;
        while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
            result.output.append(buffer, static_cast<std::size_t>(got));
    };
    int status = 0;
    for (;;) {
        pollfd wait = {pipeEnds[0], POLLIN, 0};
        poll(&wait, 1, 50);
        drain();
        if (waitpid(pid, &status, WNOHANG) == pid) {
            drain();
            if (WIFEXITED(status))
                result.exitCode = WEXITSTATUS(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.output += "\n(killed after " + std::to_string(timeoutSeconds) + " s)";
            break;
        }
    }
    close(pipeEnds[0]);
    return result;
}
