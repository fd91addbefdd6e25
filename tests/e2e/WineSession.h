#pragma once

#include <filesystem>
#include <string>
#include <vector>

// A fresh Wine prefix with the settings the end-to-end tests need, a display (an Xvfb of our own
// when there is none), and a way to run the driver program inside it. Which Wine loader runs a
// build's programs, and how the prefix is made, is asked of script/wine-host.
class WineSession {
public:
    struct Result {
        int exitCode = -1; // of the driver; -1 when it could not be run or timed out
        std::string output;
    };

    // Whether this host runs the programs of build ("win32" or "win64"): exit code 0 when it
    // does, kHostCannotRun with the reason as output when it does not, anything else on an error.
    static constexpr int kHostCannotRun = 3;
    static Result CheckHost(const std::string& build);

    // Makes the prefix under workDirectory for the programs of build, the driver among them.
    // Empty when the session is ready, else why not.
    std::string Start(const std::filesystem::path& workDirectory, const std::string& build,
                      const std::filesystem::path& driver);
    void Stop();

    // Runs the driver with the given steps and waits for it (bounded).
    Result RunDriver(const std::vector<std::string>& steps) const;
    // Runs a program inside Wine, e.g. regedit; for set-up.
    Result RunWine(const std::vector<std::string>& arguments, int timeoutSeconds) const;

    // The prefix's drive C: short paths, for the registry value that holds at most 129
    // characters.
    std::filesystem::path DriveC() const { return m_prefix / "drive_c"; }
    std::string WindowsPath(const std::filesystem::path& path) const;
    // What the prefix shows as the Desktop, the folder browser's first selection.
    std::filesystem::path DesktopFolder() const { return m_home / "Desktop"; }

private:
    std::string StartDisplay();
    static Result Run(const std::vector<std::string>& command, int timeoutSeconds);

    std::string m_build;
    std::filesystem::path m_prefix;
    std::filesystem::path m_home;
    std::filesystem::path m_driver;
    std::string m_display;
    int m_xvfbPid = 0;
};
